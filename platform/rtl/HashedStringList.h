// The class library's string lists: TStringList, an ordered list of strings
// each with an optional attached object, with "name=value" access and a
// case-sensitivity setting; and THashedStringList, the same list with hashed
// look-up by whole string and by name. An attached object is held by shared
// ownership and freed with the last list entry that refers to it. Without
// case sensitivity, strings compare upper-cased by the ANSI upper-casing.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/rtl/AnsiString.h"
#include "platform/rtl/Exception.h"

namespace zk {

// Raised for an index outside the list: "List index out of bounds (5)".
class EStringListError : public Exception {
public:
  using Exception::Exception;
};

class TStringList {
public:
  TStringList() = default;
  TStringList(const TStringList &Source)
      : FItems(Source.FItems), FCaseSensitive(Source.FCaseSensitive) {}
  TStringList &operator=(const TStringList &Source) {
    if (this != &Source)
      Assign(Source);
    return *this;
  }
  virtual ~TStringList() = default;

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  const AnsiString &Strings(int32_t Index) const {
    return FItems[Checked(Index)].String;
  }
  const AnsiString &operator[](int32_t Index) const { return Strings(Index); }
  void Put(int32_t Index, AnsiString S);
  // The object attached to an entry, or nullptr.
  void *Objects(int32_t Index) const {
    return FItems[Checked(Index)].Object.get();
  }
  template <class T> T *ObjectAs(int32_t Index) const {
    return static_cast<T *>(Objects(Index));
  }
  void PutObject(int32_t Index, std::shared_ptr<void> Object);

  // Appends and returns the new index.
  int32_t Add(AnsiString S) { return AddObject(std::move(S), nullptr); }
  int32_t AddObject(AnsiString S, std::shared_ptr<void> Object);
  // Inserts before Index (0..Count).
  void Insert(int32_t Index, AnsiString S);
  void Delete(int32_t Index);
  void Clear();
  // Strings, objects and case setting of Source.
  void Assign(const TStringList &Source);

  // The part of entry Index before its first "=" (empty when there is none),
  // and the part after it.
  AnsiString Names(int32_t Index) const;
  AnsiString ValueFromIndex(int32_t Index) const;
  // The value of the entry that IndexOfName finds, or empty.
  AnsiString Values(std::string_view Name) const;

  // The index of an entry equal to S, or of an entry whose name is Name; -1
  // when there is none. The plain list finds the first such entry.
  virtual int32_t IndexOf(std::string_view S) const;
  virtual int32_t IndexOfName(std::string_view Name) const;

  bool CaseSensitive() const { return FCaseSensitive; }
  void SetCaseSensitive(bool Value);

  // Batch markers kept for callers that bracket their changes.
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate() {
    if (FUpdateCount > 0)
      --FUpdateCount;
  }
  int32_t UpdateCount() const { return FUpdateCount; }

  // Every entry followed by CR LF.
  AnsiString Text() const;

protected:
  // The comparison key of a string: itself, or upper-cased.
  AnsiString KeyOf(std::string_view S) const;
  static std::string_view NamePart(std::string_view S);
  // Hooks for derived lists: an entry was appended at Index; the entry at
  // Index changed from Old; the indices of entries changed.
  virtual void Appended(int32_t /*Index*/) {}
  virtual void Replaced(int32_t /*Index*/, const AnsiString & /*Old*/) {}
  virtual void Restructured() {}

private:
  struct TItem {
    AnsiString String;
    std::shared_ptr<void> Object;
  };
  size_t Checked(int32_t Index) const;

  std::vector<TItem> FItems;
  bool FCaseSensitive = false;
  int32_t FUpdateCount = 0;
};

// Look-up by hash. When a string or name occurs more than once, the look-up
// finds the last occurrence. The tables are rebuilt on demand after changes
// that move entries; appends keep them current.
class THashedStringList : public TStringList {
public:
  THashedStringList() = default;
  THashedStringList(const THashedStringList &Source) : TStringList(Source) {}
  THashedStringList &operator=(const THashedStringList &Source) {
    TStringList::operator=(Source);
    return *this;
  }

  int32_t IndexOf(std::string_view S) const override;
  int32_t IndexOfName(std::string_view Name) const override;

protected:
  void Appended(int32_t Index) override;
  void Replaced(int32_t Index, const AnsiString &Old) override;
  void Restructured() override;

private:
  void UpdateValueHash() const;
  void UpdateNameHash() const;

  mutable std::unordered_map<AnsiString, int32_t> FValueHash;
  mutable std::unordered_map<AnsiString, int32_t> FNameHash;
  mutable bool FValueHashValid = false;
  mutable bool FNameHashValid = false;
};

} // namespace zk
