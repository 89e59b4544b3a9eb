// SPDX-License-Identifier: MIT
// Reading a story in the single-byte encoding it declares (the declared-encoding reading
// option): the UTF-8 test, the encoding name of the XML declaration, and the transcoding
// to UTF-8 that lets the parser keep reading every document as UTF-8.
#ifndef OWCLIENT_DOC_DECLARED_ENCODING_H
#define OWCLIENT_DOC_DECLARED_ENCODING_H

#include <cstddef>
#include <string>
#include <string_view>

namespace owc {

// True when the bytes are well-formed UTF-8: no overlong form, no surrogate, nothing
// above U+10FFFF, no sequence cut short.
bool IsValidUtf8(std::string_view bytes);

// The encoding name of the XML declaration that opens the document (after a UTF-8 byte
// order mark), as written; "" when there is no declaration or it names no encoding.
std::string DeclaredEncoding(std::string_view bytes);

enum class SingleByteEncoding { kNone, kLatin1, kWindows1252 };

// Which single-byte encoding a declared name stands for, by its usual aliases, without
// regard to case. US-ASCII is taken for windows-1252: a document that declares it but
// holds bytes above 0x7F comes from a feed that meant the common Western code page, and
// windows-1252 reads Latin-1 text the same way except for 0x80-0x9F.
SingleByteEncoding ClassifyEncoding(const std::string& name);

// Appends the bytes, read in the given encoding, to *out as UTF-8. The five bytes that
// windows-1252 leaves undefined map to the C1 controls of the same value, as browsers do.
void TranscodeToUtf8(std::string_view bytes, SingleByteEncoding encoding, std::string* out);

}  // namespace owc

#endif  // OWCLIENT_DOC_DECLARED_ENCODING_H
