// TCustomIniFile: the class library's abstract INI-file class. Descendants
// supply the string operations on sections and keys; the typed readers and
// writers (integer, Boolean) and the existence tests are built on top of them
// here. The file name is kept for descendants that use one.
#pragma once

#include <cstdint>

#include "platform/rtl/AnsiString.h"
#include "platform/rtl/HashedStringList.h"

namespace zk {

class TCustomIniFile {
public:
  explicit TCustomIniFile(AnsiString FileName)
      : FFileName(std::move(FileName)) {}
  virtual ~TCustomIniFile() = default;
  TCustomIniFile(const TCustomIniFile &) = delete;
  TCustomIniFile &operator=(const TCustomIniFile &) = delete;

  const AnsiString &FileName() const { return FFileName; }

  virtual AnsiString ReadString(const AnsiString &Section,
                                const AnsiString &Ident,
                                const AnsiString &Default) = 0;
  virtual void WriteString(const AnsiString &Section, const AnsiString &Ident,
                           const AnsiString &Value) = 0;
  // A decimal value with an optional sign, or hexadecimal after "$" or "0x"
  // (up to 8 digits, taken as 32-bit two's complement); Default for anything
  // else, an out-of-range number included.
  virtual int32_t ReadInteger(const AnsiString &Section,
                              const AnsiString &Ident, int32_t Default);
  virtual void WriteInteger(const AnsiString &Section, const AnsiString &Ident,
                            int32_t Value);
  // Any integer other than 0 is true; Default when the value is no integer.
  virtual bool ReadBool(const AnsiString &Section, const AnsiString &Ident,
                        bool Default);
  // Written as "1" or "0".
  virtual void WriteBool(const AnsiString &Section, const AnsiString &Ident,
                         bool Value);
  virtual void ReadSection(const AnsiString &Section, TStringList &Strings) = 0;
  virtual void ReadSections(TStringList &Strings) = 0;
  virtual void ReadSectionValues(const AnsiString &Section,
                                 TStringList &Strings) = 0;
  virtual void EraseSection(const AnsiString &Section) = 0;
  virtual void DeleteKey(const AnsiString &Section,
                         const AnsiString &Ident) = 0;
  virtual void UpdateFile() = 0;

  // True when the section has at least one line.
  virtual bool SectionExists(const AnsiString &Section);
  // True when the section holds a key of that name.
  virtual bool ValueExists(const AnsiString &Section, const AnsiString &Ident);

private:
  AnsiString FFileName;
};

// The integer of Text in the form ReadInteger accepts, else Default.
int32_t StrToIntDef(std::string_view Text, int32_t Default);

} // namespace zk
