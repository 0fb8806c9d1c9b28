// Texts as scenarios write them and as qelhost prints them: one notation for
// both, so a printed text can be pasted into a check.
//
//   <CR> <LF> <STX> ... <US> <DEL>   the ASCII control byte of that name
//   <XX>                             the byte with the two upper-case hex digits XX
//   \xNN                             the byte NN (hex digits of either case)
//   \r \n \t                         CR, LF, HT
//   \\ \" \< \$ \#                   the character itself
//
// A '<' that does not start one of the forms above is an ordinary character.
// No text can hold a NUL byte: the host passes NUL-terminated texts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qelhost {

// Decodes the escape that starts at text[*at] ('\' or '<') into *out and
// advances *at past it. A '<' that starts no escape is copied as it stands.
// Returns false with a message in *error for a malformed '\' escape or a NUL.
bool DecodeEscape(std::string_view text, size_t* at, std::string* out, std::string* error);

// True when text[at] is a '<' that DecodeEscape would read as a byte.
bool StartsByteName(std::string_view text, size_t at);

// The text in double quotes in the notation above: the bytes as the tools
// show them (visible.h: CR, LF and STX by name, other control bytes and
// bytes from 0x7F as <XX>), and a backslash before any character that would
// otherwise read as an escape.
std::string Quoted(std::string_view text);

// Bytes as two-digit upper-case hex, separated by spaces.
std::string HexBytes(std::string_view bytes);

}  // namespace qelhost
