// SPDX-License-Identifier: MIT
// Small text helpers of the template engine.
#ifndef OWCLIENT_TEMPLATE_TEMPLATE_TEXT_H
#define OWCLIENT_TEMPLATE_TEMPLATE_TEXT_H

#include <cstdint>
#include <string>

namespace owc {

// White space: space, tab, line feed, vertical tab, form feed, carriage return.
bool IsTemplateBlank(char c);
std::string TrimBlanks(const std::string& text);
// Removes one double quote at the start and one at the end, where present.
std::string StripQuotes(const std::string& text);
// Reads a decimal integer (leading white space, optional sign, digits; the rest is
// ignored); false when there is none. Saturates at the 64-bit limits.
bool ReadDecimal(const std::string& text, int64_t* value);

}  // namespace owc

#endif  // OWCLIENT_TEMPLATE_TEMPLATE_TEXT_H
