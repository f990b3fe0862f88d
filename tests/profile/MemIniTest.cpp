#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "profile/MemIni.h"

namespace zk {
namespace {

std::vector<std::string> Lines(const TStringList& list) {
  std::vector<std::string> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(list.Strings(i));
  return out;
}

std::vector<std::string> SectionLines(TsfsMemIni& ini, const char* section) {
  TStringList values;
  ini.ReadSectionValues(section, values);
  return Lines(values);
}

std::vector<std::string> SectionNames(TsfsMemIni& ini) {
  TStringList names;
  ini.ReadSections(names);
  return Lines(names);
}

TEST(MemIni, ParsesHeadersAndKeysWithoutTheirBlanks) {
  TsfsMemIni ini(
      "  [  File Info  ]  \r\n"
      "  ProductName   =   计价 2016  \r\n"
      "a=b=c\r\n"
      "Note = x ; not a comment\r\n"
      "; a comment line\r\n"
      "\t;indented comment\r\n"
      "no equals sign here\r\n"
      "=nameless\r\n"
      "[unclosed = yes\r\n"
      "\r\n");
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{"File Info"}));
  EXPECT_EQ(SectionLines(ini, "File Info"),
            (std::vector<std::string>{"ProductName=计价 2016", "a=b=c", "Note=x ; not a comment",
                                      "no equals sign here", "=nameless", "[unclosed=yes"}));
  EXPECT_EQ(ini.ReadString("File Info", "ProductName", "-"), "计价 2016");
  EXPECT_EQ(ini.ReadString("File Info", "a", "-"), "b=c");
  EXPECT_EQ(ini.ReadString("File Info", "", "-"), "nameless");
  EXPECT_EQ(ini.ReadString("File Info", "no equals sign here", "-"), "-");
  EXPECT_EQ(ini.ReadString("File Info", "[unclosed", "-"), "yes");
  EXPECT_FALSE(ini.Modified);
}

TEST(MemIni, LinesBeforeTheFirstHeaderAreDroppedAndEmptyHeadersCount) {
  TsfsMemIni ini("lost=1\r\nalso lost\r\n[]\r\nk=v\r\n[S]\r\n");
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{"", "S"}));
  EXPECT_EQ(ini.ReadString("", "k", "-"), "v");
  EXPECT_EQ(ini.ReadString("", "lost", "-"), "-");
  EXPECT_EQ(ini.GetText(), "[]\r\nk=v\r\n\r\n[S]\r\n\r\n");
}

TEST(MemIni, SplitsOnEveryLineEndAndStopsAtNul) {
  const std::string text = std::string("[S]\ra=1\nb=2\r\n\n\rc=3") + '\0' + "\r\nd=4\r\n";
  TsfsMemIni ini(text);
  EXPECT_EQ(ini.Text(), text);
  EXPECT_EQ(SectionLines(ini, "S"), (std::vector<std::string>{"a=1", "b=2", "c=3"}));
  TsfsMemIni last("[S]\r\nx=no terminator");
  EXPECT_EQ(last.ReadString("S", "x", "-"), "no terminator");
}

TEST(MemIni, RepeatedNamesFindTheLastOccurrence) {
  TsfsMemIni ini("[S]\r\nk=first\r\nk=second\r\n[T]\r\n[s]\r\nk=third\r\nj=1\r\n");
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{"S", "T", "s"}));
  EXPECT_EQ(ini.ReadString("S", "k", "-"), "third");  // the second section S
  EXPECT_EQ(ini.ReadString("S", "j", "-"), "1");
  EXPECT_EQ(ini.GetText(),
            "[S]\r\nk=first\r\nk=second\r\n\r\n[T]\r\n\r\n[s]\r\nk=third\r\nj=1\r\n\r\n");

  TsfsMemIni keys("[S]\r\nk=first\r\nk=second\r\n");
  EXPECT_EQ(keys.ReadString("S", "k", "-"), "second");
  keys.WriteString("S", "k", "new");
  EXPECT_EQ(SectionLines(keys, "S"), (std::vector<std::string>{"k=first", "k=new"}));
}

TEST(MemIni, LookUpIgnoresLetterCase) {
  TsfsMemIni ini("[FileInfo]\r\nProductName=ZK\r\n");
  EXPECT_EQ(ini.ReadString("FILEINFO", "PRODUCTNAME", "-"), "ZK");
  EXPECT_EQ(ini.ReadString("fileinfo", "productname", "-"), "ZK");
  ini.WriteString("FILEINFO", "PRODUCTNAME", "Other");
  // The line is rebuilt with the name as written now.
  EXPECT_EQ(SectionLines(ini, "FileInfo"), (std::vector<std::string>{"PRODUCTNAME=Other"}));
  // Double-byte characters are compared as they are (0x81 0x61 is one character).
  TsfsMemIni gbk(
      "[S]\r\n\x81"
      "a=1\r\n");
  EXPECT_EQ(gbk.ReadString("S",
                           "\x81"
                           "a",
                           "-"),
            "1");
  EXPECT_EQ(gbk.ReadString("S",
                           "\x81"
                           "A",
                           "-"),
            "-");
}

TEST(MemIni, HeaderEndsByCharacterNotByTrailByte) {
  // 0x81 0x5D is one double-byte character whose trail byte is "]".
  TsfsMemIni ini("[A]\r\n[B\x81]\r\nk=v\r\n");
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{"A"}));
  EXPECT_EQ(SectionLines(ini, "A"), (std::vector<std::string>{"[B\x81]", "k=v"}));
  TsfsMemIni real("[\xB5\x5D\r\n");  // a GBK character ending in 0x5D, no "]" after it
  EXPECT_EQ(SectionNames(real), std::vector<std::string>{});
  TsfsMemIni closed("[\xB5\x5D]\r\nk=1\r\n");
  EXPECT_EQ(SectionNames(closed), (std::vector<std::string>{"\xB5\x5D"}));
}

TEST(MemIni, GetTextForm) {
  TsfsMemIni empty("");
  EXPECT_EQ(empty.GetText(), "");
  TsfsMemIni comments("; only\r\n\r\nlost\r\n");
  EXPECT_EQ(comments.GetText(), "");
  TsfsMemIni one("[FILEINFO]\r\nProductName=ZK\r\n");
  EXPECT_EQ(one.GetText(), "[FILEINFO]\r\nProductName=ZK\r\n\r\n");
  TStringList lines;
  lines.Add("before");
  one.GetStrings(lines);
  EXPECT_EQ(Lines(lines), (std::vector<std::string>{"before", "[FILEINFO]", "ProductName=ZK", ""}));
}

TEST(MemIni, TextReadsBackAsTheSameContent) {
  TsfsMemIni ini("");
  ini.WriteString("FILEINFO", "ProductName", "计价");
  ini.WriteString("FILEINFO", "Version", "");
  ini.WriteString("Other", "path", "C:\\a b\\c");
  ini.WriteInteger("Other", "n", -5);
  ini.WriteBool("Other", "flag", true);
  ini.AddSection("FILEINFO");
  const AnsiString text = ini.GetText();
  TsfsMemIni back(text);
  EXPECT_EQ(back.GetText(), text);
  EXPECT_EQ(back.ReadInteger("other", "N", 0), -5);
  EXPECT_TRUE(back.ReadBool("Other", "flag", false));
}

TEST(MemIni, WrittenNamesAndValuesStayOnTheirLine) {
  TsfsMemIni ini("[FILEINFO]\r\nProductName=ZK\r\n");
  ini.WriteString("Evil", "Note", "x\r\n[FILEINFO]\r\nProductName=..\\..\\evil");
  ini.WriteString("Evil", "Key\nMore", "v");
  ini.WriteString("Evil", "Nul", std::string("a\0b", 3));
  ini.WriteString("Cut\rName", "k", "1");
  ini.AddSection(std::string("Sec\0tion", 8));
  EXPECT_EQ(ini.ReadString("Evil", "Note", "-"), "x");
  EXPECT_EQ(ini.ReadString("Evil", "Key", "-"), "v");
  EXPECT_EQ(ini.ReadString("Evil", "Nul", "-"), "a");
  EXPECT_EQ(ini.ReadString("Cut", "k", "-"), "1");
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{"FILEINFO", "Evil", "Cut", "Sec"}));
  TsfsMemIni back(ini.GetText());
  EXPECT_EQ(back.GetText(), ini.GetText());
  EXPECT_EQ(back.ReadString("FILEINFO", "ProductName", "-"), "ZK");
}

TEST(MemIni, ModifiedRules) {
  TsfsMemIni ini("[S]\r\nk=v\r\n");
  EXPECT_FALSE(ini.Modified);
  ini.EraseSection("missing");
  EXPECT_TRUE(ini.Modified);
  ini.Modified = false;
  ini.DeleteKey("S", "missing");
  EXPECT_TRUE(ini.Modified);
  ini.Modified = false;
  ini.DeleteKey("missing", "k");
  EXPECT_TRUE(ini.Modified);
  ini.Modified = false;
  ini.WriteString("S", "k", "w");
  EXPECT_TRUE(ini.Modified);
  // Replacing the whole text leaves the flag as it was.
  ini.SetText("[T]\r\n");
  EXPECT_TRUE(ini.Modified);
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{"T"}));
  ini.Modified = false;
  ini.SetText("[U]\r\n");
  EXPECT_FALSE(ini.Modified);
  (void)ini.ReadString("U", "k", "");
  ini.UpdateFile();
  EXPECT_FALSE(ini.Modified);
}

TEST(MemIni, EraseAndDeleteRemoveTheLastOccurrence) {
  TsfsMemIni ini("[S]\r\nk=1\r\nj=2\r\nk=3\r\n[T]\r\nx=1\r\n[S]\r\nm=1\r\n");
  ini.EraseSection("s");
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{"S", "T"}));
  EXPECT_EQ(ini.ReadString("S", "k", "-"), "3");
  ini.DeleteKey("S", "K");
  EXPECT_EQ(SectionLines(ini, "S"), (std::vector<std::string>{"k=1", "j=2"}));
  EXPECT_EQ(ini.ReadString("S", "k", "-"), "1");
  ini.EraseSection("T");
  EXPECT_EQ(SectionNames(ini), (std::vector<std::string>{"S"}));
}

TEST(MemIni, ReadSectionGivesTheNames) {
  TsfsMemIni ini("[S]\r\nb=1\r\nplain\r\na=2\r\n");
  TStringList names;
  names.Add("stale");
  ini.ReadSection("S", names);
  EXPECT_EQ(Lines(names), (std::vector<std::string>{"b", "", "a"}));
  ini.ReadSection("missing", names);
  EXPECT_EQ(names.Count(), 0);
  TStringList values;
  values.Add("stale");
  ini.ReadSectionValues("missing", values);
  EXPECT_EQ(values.Count(), 0);
  EXPECT_TRUE(ini.SectionExists("s"));
  EXPECT_TRUE(ini.ValueExists("S", "A"));
  EXPECT_FALSE(ini.ValueExists("S", "plain"));
}

TEST(MemIni, AddSectionAndClear) {
  TsfsMemIni ini("[S]\r\nk=v\r\n");
  TsfsHashedStringList& lines = ini.AddSection("S");
  EXPECT_EQ(lines.Count(), 0);
  EXPECT_FALSE(lines.CaseSensitive());
  lines.Add("n=1");
  EXPECT_EQ(ini.ReadString("S", "k", "-"), "-");  // the new, last S hides the first
  EXPECT_EQ(ini.ReadString("S", "N", "-"), "1");
  EXPECT_EQ(ini.Sections().Count(), 2);
  ini.Clear();
  EXPECT_EQ(ini.Sections().Count(), 0);
  EXPECT_EQ(ini.GetText(), "");
}

TEST(MemIni, HostileTextStaysBounded) {
  // Long lines, many sections, stray bytes and control characters.
  std::string text;
  for (int i = 0; i < 2000; ++i) {
    text += "[s" + std::to_string(i % 37) + "]\n";
    text += std::string(static_cast<size_t>(i % 300), '=') + "\x81\r\x1F" + "k" +
            std::to_string(i) + "=\xFF\n";
  }
  TsfsMemIni ini(text);
  EXPECT_EQ(ini.Sections().Count(), 2000);
  TsfsMemIni back(ini.GetText());
  EXPECT_EQ(back.GetText(), ini.GetText());
}

}  // namespace
}  // namespace zk
