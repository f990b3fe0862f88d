#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>
#include <string>

#include "platform/rtl/HashedStringList.h"
#include "platform/rtl/IniFile.h"

namespace zk {
namespace {

TEST(StringList, NamesValuesAndBounds) {
  TStringList list;
  list.Add("Key=Value=More");
  list.Add("plain");
  list.Add("=empty name");
  EXPECT_EQ(list.Names(0), "Key");
  EXPECT_EQ(list.ValueFromIndex(0), "Value=More");
  EXPECT_EQ(list.Names(1), "");
  EXPECT_EQ(list.ValueFromIndex(1), "");
  EXPECT_EQ(list.Names(2), "");
  EXPECT_EQ(list.IndexOfName(""), 2);
  EXPECT_EQ(list.IndexOfName("plain"), -1);  // a line without "=" has no name
  EXPECT_EQ(list.Values("KEY"), "Value=More");
  EXPECT_EQ(list.Text(), "Key=Value=More\r\nplain\r\n=empty name\r\n");
  try {
    (void)list.Strings(3);
    FAIL();
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message, "List index out of bounds (3)");
  }
  EXPECT_THROW(list.Delete(-1), EStringListError);
  EXPECT_THROW(list.Insert(5, "x"), EStringListError);
  list.Insert(3, "end");
  list.Insert(0, "first");
  EXPECT_EQ(list.Strings(0), "first");
  EXPECT_EQ(list.Strings(4), "end");
}

TEST(StringList, CaseInsensitiveByAnsiUpperCasingUnlessCaseSensitive) {
  TStringList list;
  list.Add("abc=1");
  list.Add("ABC");
  EXPECT_EQ(list.IndexOf("abc"), 1);  // plain list: the first equal entry
  EXPECT_EQ(list.IndexOfName("AbC"), 0);
  // Double-byte characters compare as they are: 0x81 0x61 is one character.
  list.Add(
      "\x81"
      "a=2");
  EXPECT_EQ(list.IndexOfName("\x81"
                             "A"),
            -1);
  EXPECT_EQ(list.IndexOfName("\x81"
                             "a"),
            2);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("abc"), -1);
  EXPECT_EQ(list.IndexOfName("abc"), 0);
}

TEST(StringList, ObjectsAreSharedAndFreedWithTheLastEntry) {
  auto object = std::make_shared<int>(42);
  std::weak_ptr<int> watch = object;
  {
    TStringList list;
    list.AddObject("one", object);
    object.reset();
    TStringList copy;
    copy.Assign(list);
    list.Clear();
    ASSERT_FALSE(watch.expired());
    EXPECT_EQ(*copy.ObjectAs<int>(0), 42);
    EXPECT_EQ(copy.Objects(0), watch.lock().get());
  }
  EXPECT_TRUE(watch.expired());
}

TEST(HashedStringList, FindsTheLastOccurrence) {
  THashedStringList list;
  list.Add("a=1");
  list.Add("b=2");
  list.Add("A=3");
  list.Add("x");
  list.Add("X");
  EXPECT_EQ(list.IndexOfName("a"), 2);
  EXPECT_EQ(list.IndexOf("x"), 4);
  EXPECT_EQ(list.IndexOf("nothing"), -1);
  list.Add("a=4");  // appended after the tables were built
  EXPECT_EQ(list.IndexOfName("A"), 5);
  list.Delete(5);
  EXPECT_EQ(list.IndexOfName("A"), 2);
  list.Put(2, "c=5");  // the entry loses its name a
  EXPECT_EQ(list.IndexOfName("a"), 0);
  EXPECT_EQ(list.IndexOfName("c"), 2);
  list.Put(2, "C=6");  // same name, other case
  EXPECT_EQ(list.IndexOfName("c"), 2);
  EXPECT_EQ(list.IndexOf("c=5"), -1);
  EXPECT_EQ(list.IndexOf("c=6"), 2);
  list.Insert(0, "c=0");
  EXPECT_EQ(list.IndexOfName("c"), 3);
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOfName("c"), 0);
  list.Clear();
  EXPECT_EQ(list.IndexOfName("c"), -1);
}

TEST(HashedStringList, AgreesWithALinearSearchUnderRandomChanges) {
  std::mt19937 rng(3);
  THashedStringList hashed;
  const char* names[] = {"a", "B", "b", "c", "Dd", "dD", "e"};
  for (int step = 0; step < 3000; ++step) {
    const std::string name = names[rng() % 7];
    const std::string line = (rng() % 4 == 0) ? name : name + "=" + std::to_string(step);
    const int32_t count = hashed.Count();
    switch (rng() % 4) {
      case 0:
      case 1:
        hashed.Add(line);
        break;
      case 2:
        if (count > 0) hashed.Put(static_cast<int32_t>(rng() % count), line);
        break;
      default:
        if (count > 0) hashed.Delete(static_cast<int32_t>(rng() % count));
        break;
    }
    for (const char* probe : names) {
      int32_t lastName = -1, lastValue = -1;
      for (int32_t i = 0; i < hashed.Count(); ++i) {
        const std::string& s = hashed.Strings(i);
        if (s.find('=') != std::string::npos && AnsiSameText(hashed.Names(i), probe)) lastName = i;
        if (AnsiSameText(s, probe)) lastValue = i;
      }
      ASSERT_EQ(hashed.IndexOfName(probe), lastName) << "step " << step << " " << probe;
      ASSERT_EQ(hashed.IndexOf(probe), lastValue) << "step " << step << " " << probe;
    }
  }
}

// An INI over a map, to exercise what the abstract class builds on top.
class TMapIni : public TCustomIniFile {
 public:
  TMapIni() : TCustomIniFile("map.ini") {}
  std::map<std::string, std::map<std::string, std::string>> Data;

  AnsiString ReadString(const AnsiString& Section, const AnsiString& Ident,
                        const AnsiString& Default) override {
    auto s = Data.find(Section);
    if (s == Data.end()) return Default;
    auto k = s->second.find(Ident);
    return k == s->second.end() ? Default : k->second;
  }
  void WriteString(const AnsiString& Section, const AnsiString& Ident,
                   const AnsiString& Value) override {
    Data[Section][Ident] = Value;
  }
  void ReadSection(const AnsiString& Section, TStringList& Strings) override {
    Strings.Clear();
    for (const auto& [k, v] : Data[Section]) Strings.Add(k);
  }
  void ReadSections(TStringList& Strings) override {
    Strings.Clear();
    for (const auto& [s, keys] : Data) Strings.Add(s);
  }
  void ReadSectionValues(const AnsiString& Section, TStringList& Strings) override {
    Strings.Clear();
    for (const auto& [k, v] : Data[Section]) Strings.Add(k + "=" + v);
  }
  void EraseSection(const AnsiString& Section) override { Data.erase(Section); }
  void DeleteKey(const AnsiString& Section, const AnsiString& Ident) override {
    Data[Section].erase(Ident);
  }
  void UpdateFile() override {}
};

TEST(CustomIniFile, TypedReadersAndWritersWorkOnTheStringOperations) {
  TMapIni ini;
  EXPECT_EQ(ini.FileName(), "map.ini");
  ini.WriteInteger("S", "n", -12345);
  EXPECT_EQ(ini.Data["S"]["n"], "-12345");
  EXPECT_EQ(ini.ReadInteger("S", "n", 0), -12345);
  EXPECT_EQ(ini.ReadInteger("S", "missing", 7), 7);
  ini.WriteBool("S", "b", true);
  EXPECT_EQ(ini.Data["S"]["b"], "1");
  EXPECT_TRUE(ini.ReadBool("S", "b", false));
  ini.WriteBool("S", "b", false);
  EXPECT_EQ(ini.Data["S"]["b"], "0");
  EXPECT_FALSE(ini.ReadBool("S", "b", true));
  ini.WriteString("S", "word", "yes");
  EXPECT_TRUE(ini.ReadBool("S", "word", true));  // not an integer: the default
  EXPECT_FALSE(ini.ReadBool("S", "word", false));
  ini.WriteString("S", "two", "2");
  EXPECT_TRUE(ini.ReadBool("S", "two", false));
  EXPECT_TRUE(ini.SectionExists("S"));
  EXPECT_FALSE(ini.SectionExists("T"));
  EXPECT_TRUE(ini.ValueExists("S", "N"));
  EXPECT_FALSE(ini.ValueExists("S", "x"));
}

TEST(CustomIniFile, IntegerTextForms) {
  struct Case {
    const char* Text;
    int32_t Expected;
  };
  const Case cases[] = {
      {"0", 0},
      {"42", 42},
      {"+42", 42},
      {"-42", -42},
      {" 17", 17},
      {"$1F", 31},
      {"0x1f", 31},
      {"0XFF", 255},
      {"$FFFFFFFF", -1},
      {"-$10", -16},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"2147483648", -99},
      {"$100000000", -99},
      {"", -99},
      {"-", -99},
      {"$", -99},
      {"0x", -99},
      {"12a", -99},
      {"1 ", -99},
      {"1.5", -99},
      {"99999999999999999999", -99},
  };
  for (const Case& c : cases) EXPECT_EQ(StrToIntDef(c.Text, -99), c.Expected) << c.Text;
}

}  // namespace
}  // namespace zk
