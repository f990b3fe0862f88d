#include "profile/MemIni.h"

#include <string_view>

namespace zk {

namespace {

// Text up to its first CR, LF or NUL: a name or value must stay on its line.
AnsiString OneLine(std::string_view Text) {
  const size_t end = Text.find_first_of(std::string_view("\r\n\0", 3));
  return AnsiString(Text.substr(0, end));
}

// True when the last character of Text (stepping by GBK character) is the
// single byte c; "]" can be the trail byte of a double-byte character.
bool EndsWithChar(std::string_view Text, char c) {
  size_t last = 0;
  for (size_t i = 0; i < Text.size(); i = CharNext(Text, i)) last = i;
  return !Text.empty() && last == Text.size() - 1 && Text[last] == c;
}

}  // namespace

TsfsCustomMemIni::TsfsCustomMemIni(AnsiString Text)
    : TCustomIniFile(AnsiString()), FText(std::move(Text)) {}

TsfsCustomMemIni::~TsfsCustomMemIni() {
  Clear();
}

void TsfsCustomMemIni::LoadValues() {
  TStringList lines;
  const std::string_view text(FText);
  size_t start = 0;
  size_t i = 0;
  for (; i < text.size() && text[i] != '\0'; ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.Add(AnsiString(text.substr(start, i - start)));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (i > start) lines.Add(AnsiString(text.substr(start, i - start)));
  SetStrings(lines);
}

void TsfsCustomMemIni::SetText(AnsiString NewText) {
  FText = std::move(NewText);
  LoadValues();
}

void TsfsCustomMemIni::GetStrings(TStringList& Lines) const {
  for (int32_t s = 0; s < FSections.Count(); ++s) {
    Lines.Add("[" + FSections.Strings(s) + "]");
    const auto* lines = FSections.ObjectAs<TsfsHashedStringList>(s);
    for (int32_t i = 0; i < lines->Count(); ++i) Lines.Add(lines->Strings(i));
    Lines.Add(AnsiString());
  }
}

AnsiString TsfsCustomMemIni::GetText() const {
  TStringList lines;
  GetStrings(lines);
  return lines.Text();
}

void TsfsCustomMemIni::Clear() {
  FSections.Clear();
}

TsfsHashedStringList& TsfsCustomMemIni::AddSection(const AnsiString& Name) {
  auto lines = std::make_shared<TsfsHashedStringList>();
  lines->SetCaseSensitive(FSections.CaseSensitive());
  TsfsHashedStringList& result = *lines;
  FSections.AddObject(OneLine(Name), std::move(lines));
  return result;
}

TsfsHashedStringList* TsfsCustomMemIni::FindSection(const AnsiString& Name) const {
  const int32_t i = FSections.IndexOf(Name);
  return i < 0 ? nullptr : FSections.ObjectAs<TsfsHashedStringList>(i);
}

AnsiString TsfsCustomMemIni::ReadString(const AnsiString& Section, const AnsiString& Ident,
                                        const AnsiString& Default) {
  const TsfsHashedStringList* lines = FindSection(Section);
  if (!lines) return Default;
  const int32_t i = lines->IndexOfName(Ident);
  if (i < 0) return Default;
  // The text after the name and its "=".
  return lines->ValueFromIndex(i);
}

void TsfsCustomMemIni::WriteString(const AnsiString& Section, const AnsiString& Ident,
                                   const AnsiString& Value) {
  const AnsiString section = OneLine(Section);
  const AnsiString ident = OneLine(Ident);
  TsfsHashedStringList* lines = FindSection(section);
  if (!lines) lines = &AddSection(section);
  AnsiString line = ident + "=" + OneLine(Value);
  const int32_t i = lines->IndexOfName(ident);
  if (i >= 0) {
    lines->Put(i, std::move(line));
  } else {
    lines->Add(std::move(line));
  }
  Modified = true;
}

void TsfsCustomMemIni::ReadSection(const AnsiString& Section, TStringList& Strings) {
  Strings.BeginUpdate();
  Strings.Clear();
  if (const TsfsHashedStringList* lines = FindSection(Section)) {
    for (int32_t i = 0; i < lines->Count(); ++i) Strings.Add(lines->Names(i));
  }
  Strings.EndUpdate();
}

void TsfsCustomMemIni::ReadSections(TStringList& Strings) {
  // Names only: the section lists stay the INI's own.
  Strings.BeginUpdate();
  Strings.Clear();
  for (int32_t s = 0; s < FSections.Count(); ++s) Strings.Add(FSections.Strings(s));
  Strings.EndUpdate();
}

void TsfsCustomMemIni::ReadSectionValues(const AnsiString& Section, TStringList& Strings) {
  Strings.BeginUpdate();
  Strings.Clear();
  if (const TsfsHashedStringList* lines = FindSection(Section)) {
    for (int32_t i = 0; i < lines->Count(); ++i) Strings.Add(lines->Strings(i));
  }
  Strings.EndUpdate();
}

void TsfsCustomMemIni::EraseSection(const AnsiString& Section) {
  const int32_t i = FSections.IndexOf(Section);
  if (i >= 0) FSections.Delete(i);
  Modified = true;
}

void TsfsCustomMemIni::DeleteKey(const AnsiString& Section, const AnsiString& Ident) {
  if (TsfsHashedStringList* lines = FindSection(Section)) {
    const int32_t i = lines->IndexOfName(Ident);
    if (i >= 0) lines->Delete(i);
  }
  Modified = true;
}

// ---- TsfsMemIni ----

TsfsMemIni::TsfsMemIni(AnsiString Text) : TsfsCustomMemIni(std::move(Text)) {
  LoadValues();
}

void TsfsMemIni::SetStrings(const TStringList& Lines) {
  Clear();
  TsfsHashedStringList* current = nullptr;
  for (int32_t n = 0; n < Lines.Count(); ++n) {
    const AnsiString s = Trim(Lines.Strings(n));
    if (s.empty() || s[0] == ';') continue;  // blank line or comment
    if (s[0] == '[' && EndsWithChar(s, ']')) {
      // A repeated header opens a second section of the same name.
      current = &AddSection(Trim(std::string_view(s).substr(1, s.size() - 2)));
      continue;
    }
    if (!current) continue;  // lines before the first header
    const size_t p = s.find('=');
    if (p == AnsiString::npos) {
      current->Add(s);
    } else {
      current->Add(Trim(std::string_view(s).substr(0, p)) + "=" +
                   Trim(std::string_view(s).substr(p + 1)));
    }
  }
}

}  // namespace zk
