// SFSStrFunc: CompareNames, the case-insensitive, locale-aware order in which
// the directory index sorts names, and the collation tables behind it. The
// process-wide tables are built once at start-up from the user's locale
// (platform/os/Locale.h) and never change afterwards; BuildCollationTables
// builds a set from any locale.
#pragma once

#include <array>
#include <cstdint>

#include "platform/os/Locale.h"

namespace zk {

struct TCollationTables {
  std::array<uint8_t, 256> RankOf{};      // a byte's rank in the collation
  std::array<uint8_t, 256> CharOfRank{};  // the inverse of RankOf
  std::array<uint8_t, 256> UpperRank{};   // rank -> rank of the upper-case form
  // Only when true are the tables used; otherwise names compare through the
  // locale's case-insensitive comparison.
  bool RankIsPermutation = false;
};

// The fixed Turkish collation (locale 1055): ranks and upper-case mapping.
extern const std::array<uint8_t, 256> TurkishRankOf;
uint8_t TurkishUpperChar(uint8_t c);

// Builds the tables from Locale: Turkish gets the fixed tables, any other
// locale the ranks of its one-character collation and its ANSI upper-casing.
TCollationTables BuildCollationTables(os::ILocale& Locale);

// The process-wide tables, built from os::Locale() at start-up.
const TCollationTables& CollationTables();

// Compares two zero-terminated names (nullptr counts as empty): negative, zero
// or positive. Neither name is changed.
int CompareNames(const char* S1, const char* S2);
// The same over a given set of tables; the fallback goes to os::Locale().
int CompareNames(const TCollationTables& Tables, const char* S1, const char* S2);

}  // namespace zk
