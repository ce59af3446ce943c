// "Crafty configuration": the engine's program, its command line, the commands sent after
// every start and the two score swings that earn move glyphs.
#pragma once

#include <QDialog>

#include "engine/engine_settings.h"

class QLineEdit;
class QPlainTextEdit;

namespace vez {

class EngineConfigDialog final : public QDialog {
    Q_OBJECT
public:
    EngineConfigDialog(const EngineSettings& settings, QWidget* parent);

    // The five fields as settings; everything else is taken from the settings given.
    EngineSettings settings() const;
    // "Defaults": every field back to the program's defaults.
    void fillDefaults();

private:
    void show(const EngineSettings& settings);
    void browse();

    EngineSettings m_settings;
    QLineEdit* m_path;
    QLineEdit* m_commandLine;
    QPlainTextEdit* m_commands;
    QLineEdit* m_margin1;
    QLineEdit* m_margin2;
};

} // namespace vez
