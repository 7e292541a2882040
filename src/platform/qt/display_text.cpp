#include "platform/qt/display_text.h"

namespace platform {

QString DisplayText(std::string_view bytes) {
  QString text = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return text;
}

std::string SystemText(const QString& text) { return text.toLatin1().toStdString(); }

}  // namespace platform
