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

// The problems found, one per line, or that there are none.
void MainWindow::validate()
{
    const std::vector<std::string> problems = m_doc->validate();
    if (problems.empty()) {
        m_user.showMessage("The database is sound.");
        return;
    }
    std::string text = "The database is damaged:";
    for (const std::string& problem : problems)
        text += "\n" + problem;
    m_user.showMessage(text);
}

} // namespace vez
