// The built-in passwords of project documents. Neither password is kept in
// readable form: each is rebuilt when needed from a stored text of the form
//   two decimal digits n, n hexadecimal digits (the scrambled key text), then
//   the scrambled password in hexadecimal digits,
// and one stored key text of six characters that unlocks both key texts. The
// stored texts are build settings (CMake cache variables ZK_BUILTIN_CURRENT_TEXT,
// ZK_BUILTIN_LEGACY_TEXT and ZK_BUILTIN_KEY_TEXT), so documents keyed otherwise
// can be served by a build with the right values.
#pragma once

#include <cstdint>

#include "platform/rtl/AnsiString.h"

namespace zk {

// Descrambles HexText (pairs of hexadecimal digits) with KeyText, used
// cyclically; the result has one character less than HexText has pairs. An
// empty text gives the empty text. A digit that is not hexadecimal raises.
AnsiString DecodeHiddenText(const AnsiString& HexText, const AnsiString& KeyText);
// The inverse of DecodeHiddenText for texts without NUL characters: the
// stored form of Plain under KeyText, starting with the byte First. Used to
// make the stored texts of a build.
AnsiString EncodeHiddenText(const AnsiString& Plain, const AnsiString& KeyText, uint8_t First);

// Rebuilds a password from a stored text (form above) and the stored key
// text. A stored text that does not have that form raises.
AnsiString DecodeStoredPassword(const AnsiString& StoredText, const AnsiString& StoredKeyText);

// The current built-in password (13 characters with the default build
// settings) and the legacy one (16 characters).
AnsiString GetCurrentBuiltInPassword();
AnsiString GetLegacyBuiltInPassword();

}  // namespace zk
