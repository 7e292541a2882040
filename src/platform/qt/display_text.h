#pragma once
// The program's texts are bytes of the system's own 8-bit character set with CR LF line breaks;
// Qt wants Unicode with LF.
#include <QString>
#include <string_view>

namespace platform {

// Latin-1 decoding; CR LF and a lone CR each become one LF.
QString DisplayText(std::string_view bytes);

// Latin-1 encoding; characters outside it become '?'.
std::string SystemText(const QString& text);

}  // namespace platform
