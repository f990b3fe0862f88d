#include "platform/rtl/HashedStringList.h"

namespace zk {

size_t TStringList::Checked(int32_t Index) const {
  if (Index < 0 || Index >= Count()) {
    throw EStringListError("List index out of bounds (" + IntToStr(Index) +
                           ")");
  }
  return static_cast<size_t>(Index);
}

AnsiString TStringList::KeyOf(std::string_view S) const {
  return FCaseSensitive ? AnsiString(S) : AnsiUpperCase(S);
}

std::string_view TStringList::NamePart(std::string_view S) {
  // "=" (0x3D) is never the trail byte of a double-byte character.
  const size_t p = S.find('=');
  return p == std::string_view::npos ? std::string_view() : S.substr(0, p);
}

void TStringList::Put(int32_t Index, AnsiString S) {
  TItem &item = FItems[Checked(Index)];
  AnsiString old = std::move(item.String);
  item.String = std::move(S);
  Replaced(Index, old);
}

void TStringList::PutObject(int32_t Index, std::shared_ptr<void> Object) {
  FItems[Checked(Index)].Object = std::move(Object);
}

int32_t TStringList::AddObject(AnsiString S, std::shared_ptr<void> Object) {
  FItems.push_back(TItem{std::move(S), std::move(Object)});
  const int32_t index = Count() - 1;
  Appended(index);
  return index;
}

void TStringList::Insert(int32_t Index, AnsiString S) {
  if (Index == Count()) {
    Add(std::move(S));
    return;
  }
  Checked(Index);
  FItems.insert(FItems.begin() + Index, TItem{std::move(S), nullptr});
  Restructured();
}

void TStringList::Delete(int32_t Index) {
  FItems.erase(FItems.begin() + static_cast<ptrdiff_t>(Checked(Index)));
  Restructured();
}

void TStringList::Clear() {
  FItems.clear();
  Restructured();
}

void TStringList::Assign(const TStringList &Source) {
  if (this == &Source)
    return;
  FItems = Source.FItems;
  FCaseSensitive = Source.FCaseSensitive;
  Restructured();
}

AnsiString TStringList::Names(int32_t Index) const {
  return AnsiString(NamePart(Strings(Index)));
}

AnsiString TStringList::ValueFromIndex(int32_t Index) const {
  const AnsiString &s = Strings(Index);
  const size_t p = s.find('=');
  return p == AnsiString::npos ? AnsiString() : s.substr(p + 1);
}

AnsiString TStringList::Values(std::string_view Name) const {
  const int32_t i = IndexOfName(Name);
  return i < 0 ? AnsiString() : ValueFromIndex(i);
}

int32_t TStringList::IndexOf(std::string_view S) const {
  const AnsiString key = KeyOf(S);
  for (int32_t i = 0; i < Count(); ++i) {
    if (KeyOf(FItems[static_cast<size_t>(i)].String) == key)
      return i;
  }
  return -1;
}

int32_t TStringList::IndexOfName(std::string_view Name) const {
  const AnsiString key = KeyOf(Name);
  for (int32_t i = 0; i < Count(); ++i) {
    const std::string_view s = FItems[static_cast<size_t>(i)].String;
    if (s.find('=') != std::string_view::npos && KeyOf(NamePart(s)) == key)
      return i;
  }
  return -1;
}

void TStringList::SetCaseSensitive(bool Value) {
  if (FCaseSensitive == Value)
    return;
  FCaseSensitive = Value;
  Restructured();
}

AnsiString TStringList::Text() const {
  AnsiString out;
  for (const TItem &item : FItems) {
    out += item.String;
    out += "\r\n";
  }
  return out;
}

// ---- THashedStringList ----

void THashedStringList::UpdateValueHash() const {
  if (FValueHashValid)
    return;
  FValueHash.clear();
  for (int32_t i = 0; i < Count(); ++i)
    FValueHash[KeyOf(Strings(i))] = i; // last one wins
  FValueHashValid = true;
}

void THashedStringList::UpdateNameHash() const {
  if (FNameHashValid)
    return;
  FNameHash.clear();
  for (int32_t i = 0; i < Count(); ++i) {
    const std::string_view s = Strings(i);
    if (s.find('=') != std::string_view::npos)
      FNameHash[KeyOf(NamePart(s))] = i;
  }
  FNameHashValid = true;
}

int32_t THashedStringList::IndexOf(std::string_view S) const {
  UpdateValueHash();
  const auto found = FValueHash.find(KeyOf(S));
  return found == FValueHash.end() ? -1 : found->second;
}

int32_t THashedStringList::IndexOfName(std::string_view Name) const {
  UpdateNameHash();
  const auto found = FNameHash.find(KeyOf(Name));
  return found == FNameHash.end() ? -1 : found->second;
}

void THashedStringList::Appended(int32_t Index) {
  // The new entry is the last occurrence of its string and of its name.
  const std::string_view s = Strings(Index);
  if (FValueHashValid)
    FValueHash[KeyOf(s)] = Index;
  if (FNameHashValid && s.find('=') != std::string_view::npos) {
    FNameHash[KeyOf(NamePart(s))] = Index;
  }
}

void THashedStringList::Replaced(int32_t Index, const AnsiString &Old) {
  FValueHashValid = false;
  if (!FNameHashValid)
    return;
  const std::string_view s = Strings(Index);
  const bool hadName = Old.find('=') != AnsiString::npos;
  const bool hasName = s.find('=') != std::string_view::npos;
  // The name table stays right when the entry keeps its name.
  if (hadName != hasName ||
      (hasName && KeyOf(NamePart(Old)) != KeyOf(NamePart(s)))) {
    FNameHashValid = false;
  }
}

void THashedStringList::Restructured() {
  FValueHashValid = false;
  FNameHashValid = false;
  FValueHash.clear();
  FNameHash.clear();
}

} // namespace zk
