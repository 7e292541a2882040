#pragma once
// A modal message box that behaves as the program's boxes are described to the operator:
// buttons in Windows order, Enter presses the first one, and a box closed without a button
// gets platform::ClosedBoxAnswer().
#include <string_view>

class QWidget;

namespace platform {

// `flags` as in operator.h; returns IDOK, IDCANCEL, IDYES or IDNO.
int RunMessageBox(QWidget* parent, std::string_view text, std::string_view caption, unsigned flags);

}  // namespace platform
