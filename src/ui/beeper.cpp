#include "ui/beeper.h"

#include <QApplication>

namespace vez {

void SystemBeeper::beep(BeepKind) { QApplication::beep(); }

Beeper& systemBeeper()
{
    static SystemBeeper beeper;
    return beeper;
}

} // namespace vez
