// Printing: the view's status text, the board and the game's PGN on pages of the printer.
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include "ui/main_window.h"
#include "ui/vez_view.h"

namespace vez {

void MainWindow::printCommand(CommandId id)
{
    if (!m_printer)
        m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    switch (id) {
    case CommandId::FilePrintSetup: {
        QPageSetupDialog dialog(m_printer.get(), this);
        dialog.exec();
        break;
    }
    case CommandId::FilePrint: {
        QPrintDialog dialog(m_printer.get(), this);
        if (dialog.exec() == QDialog::Accepted)
            printTo(*m_printer);
        break;
    }
    default: {
        QPrintPreviewDialog dialog(m_printer.get(), this);
        connect(&dialog, &QPrintPreviewDialog::paintRequested, this,
                [this](QPrinter* printer) { printTo(*printer); });
        dialog.exec();
        break;
    }
    }
}

void MainWindow::printTo(QPrinter& printer) const
{
    QPainter painter;
    if (!painter.begin(&printer)) {
        m_user.showMessage("Could not start printing.");
        return;
    }
    m_view->print(painter, printer.pageLayout().paintRectPixels(printer.resolution()).translated(
                               -printer.pageLayout().paintRectPixels(printer.resolution()).topLeft()));
    painter.end();
}

void MainWindow::validate() {}

} // namespace vez
