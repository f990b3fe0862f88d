// The in-memory INI: TsfsCustomMemIni and its concrete TsfsMemIni hold an INI
// text entirely in memory, answer reads and writes on sections and keys, and
// give the whole content back as a CR LF text. They never touch a file. The
// INI owns its list of sections and each section's list of lines.
#pragma once

#include <memory>

#include "platform/rtl/AnsiString.h"
#include "platform/rtl/HashedStringList.h"
#include "platform/rtl/IniFile.h"

namespace zk {

// The string list of sections and of section lines.
class TsfsHashedStringList : public THashedStringList {
 public:
  using THashedStringList::THashedStringList;
};

class TsfsCustomMemIni : public TCustomIniFile {
 public:
  ~TsfsCustomMemIni() override;

  // Set by every write, erase and key deletion; cleared by whoever saved the
  // text.
  bool Modified = false;

  // The source text last given to the constructor or to SetText.
  const AnsiString& Text() const { return FText; }
  // One entry per section, in order, with the section's line list attached.
  const TsfsHashedStringList& Sections() const { return FSections; }

  // Splits Text into lines (CR LF, lone CR or lone LF; a NUL ends the text)
  // and passes them to SetStrings.
  virtual void LoadValues();
  // Replaces the whole content by the parsed lines.
  virtual void SetStrings(const TStringList& Lines) = 0;
  // Text := NewText, then LoadValues; Modified is left as it was.
  void SetText(AnsiString NewText);
  // Appends, per section, "[name]", its lines and an empty line.
  void GetStrings(TStringList& Lines) const;
  // The lines of GetStrings, each followed by CR LF.
  AnsiString GetText() const;
  // Frees every section.
  void Clear();
  // Appends a new, empty section (no duplicate check) and returns its lines.
  // The name is cut at its first CR, LF or NUL.
  TsfsHashedStringList& AddSection(const AnsiString& Name);

  AnsiString ReadString(const AnsiString& Section, const AnsiString& Ident,
                        const AnsiString& Default) override;
  // Ident and Value are cut at their first CR, LF or NUL, so that the text
  // reads back as the same content.
  void WriteString(const AnsiString& Section, const AnsiString& Ident,
                   const AnsiString& Value) override;
  void ReadSection(const AnsiString& Section, TStringList& Strings) override;
  void ReadSections(TStringList& Strings) override;
  void ReadSectionValues(const AnsiString& Section, TStringList& Strings) override;
  void EraseSection(const AnsiString& Section) override;
  void DeleteKey(const AnsiString& Section, const AnsiString& Ident) override;
  void UpdateFile() override {}

 protected:
  // Stores Text; the concrete class's constructor then calls LoadValues (a
  // base constructor cannot reach the parser of a derived class).
  explicit TsfsCustomMemIni(AnsiString Text);

  // The line list of the last section called Name, or nullptr.
  TsfsHashedStringList* FindSection(const AnsiString& Name) const;

  TsfsHashedStringList FSections;
  AnsiString FText;
};

class TsfsMemIni : public TsfsCustomMemIni {
 public:
  // Text is the INI text itself, not a file name.
  explicit TsfsMemIni(AnsiString Text);

  void SetStrings(const TStringList& Lines) override;
};

}  // namespace zk
