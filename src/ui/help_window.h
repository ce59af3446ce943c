// Help/Help Topics: the user guide bundled with the program.
#pragma once

class QWidget;

namespace vez {

// Opens the guide in a window of its own (one at a time).
void showUserGuide(QWidget* parent);
// The guide as HTML.
const char* userGuideHtml();

} // namespace vez
