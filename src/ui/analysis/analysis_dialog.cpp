#include "ui/analysis/analysis_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <algorithm>

#include "app/document.h"
#include "ui/analysis/engine_config_dialog.h"
#include "ui/beeper.h"
#include "ui/chessboard.h"

namespace vez {

namespace {

// Between the Comment field and the board, and what Show Position adds besides the board.
constexpr int kBoardMargin = 16;
constexpr int kStatusGap = 10;
constexpr int kStatusWidth = 160;
constexpr int kStatusHeight = 30;

QLineEdit* readOnlyField(QWidget* parent, const char* name)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setReadOnly(true);
    return field;
}

QCheckBox* checkBox(const char* text, const char* name, bool checked, QWidget* parent)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    box->setChecked(checked);
    return box;
}

} // namespace

AnalysisDialog::AnalysisDialog(std::unique_ptr<AnalysisJob> job, const CVezDoc& doc, Beeper& beeper)
    : QDialog(nullptr), m_job(std::move(job)), m_beeper(beeper)
{
    // The program ends with its main window; open analyses go with it.
    setAttribute(Qt::WA_QuitOnClose, false);
    setModal(false);
    m_controls = buildControls();
    m_board = new Chessboard({0, kSmallBuiltInPieces, nullptr, nullptr, &beeper, nullptr}, this);
    m_board->Reset(doc.isNonstandard(), doc.descriptiveNotation());
    m_status = readOnlyField(this, "status");
    m_status->resize(kStatusWidth, kStatusHeight);
    m_controls->adjustSize();
    m_controls->layout()->activate();
    resize(m_controls->size());
    placeBoard();
    m_job->setObserver(this);
    showJob();
}

AnalysisDialog::~AnalysisDialog()
{
    m_job->setObserver(nullptr);
    m_job.reset();
}

QWidget* AnalysisDialog::buildControls()
{
    auto* controls = new QWidget(this);
    m_start = new QPushButton("Start", controls);
    m_start->setObjectName("start");
    m_stop = new QPushButton("Stop", controls);
    m_stop->setObjectName("stop");
    // Checkable buttons draw pressed: Start while the engine runs, Stop while it does not.
    m_start->setCheckable(true);
    m_stop->setCheckable(true);
    auto* configure = new QPushButton("&Configure Crafty...", controls);
    configure->setObjectName("configure");
    auto* showPosition = new QPushButton("Show Position", controls);
    showPosition->setObjectName("showPosition");
    m_progress = new QProgressBar(controls);
    m_progress->setObjectName("progress");
    m_progress->setTextVisible(false);
    m_beep = checkBox("Beep", "beep", m_job->beep(), controls);
    m_savePv = checkBox("Save principal variations", "savePv", m_job->savePv(), controls);
    m_saveCount = new QSpinBox(controls);
    m_saveCount->setObjectName("saveCount");
    m_saveCount->setRange(0, 99);
    m_saveCount->setValue(m_job->saveCount());
    auto* sides = new QGroupBox("Analyze for", controls);
    m_white = checkBox("White", "white", m_job->analyzeWhite(), sides);
    m_black = checkBox("Black", "black", m_job->analyzeBlack(), sides);
    auto* sideRow = new QHBoxLayout(sides);
    sideRow->addWidget(m_white);
    sideRow->addWidget(m_black);
    m_score = readOnlyField(controls, "score");
    m_pv = readOnlyField(controls, "pv");
    m_comment = readOnlyField(controls, "comment");

    auto* grid = new QGridLayout(controls);
    grid->addWidget(buildTimeSlider(controls), 0, 0, 1, 2);
    grid->addWidget(m_start, 0, 2);
    grid->addWidget(m_stop, 0, 3);
    grid->addWidget(configure, 1, 0);
    grid->addWidget(showPosition, 1, 1);
    grid->addWidget(m_beep, 1, 2, 1, 2);
    grid->addWidget(m_progress, 2, 0, 1, 4);
    grid->addWidget(sides, 3, 0, 2, 1);
    grid->addWidget(m_savePv, 3, 1, 1, 3);
    grid->addWidget(new QLabel("# of moves to save", controls), 4, 1);
    grid->addWidget(m_saveCount, 4, 2);
    const std::pair<const char*, QLineEdit*> fields[] = {
        {"Score", m_score}, {"Principal Variation", m_pv}, {"Comment", m_comment}};
    int row = 5;
    for (const auto& [label, field] : fields) {
        grid->addWidget(new QLabel(label, controls), row, 0);
        grid->addWidget(field, row++, 1, 1, 3);
    }

    connect(m_start, &QPushButton::clicked, this, &AnalysisDialog::start);
    connect(m_stop, &QPushButton::clicked, this, [this] {
        m_job->stop();
        showJob();
    });
    connect(configure, &QPushButton::clicked, this, &AnalysisDialog::configure);
    connect(showPosition, &QPushButton::clicked, this, &AnalysisDialog::toggleBoard);
    connect(m_beep, &QCheckBox::toggled, this, [this](bool on) { m_job->setBeep(on); });
    connect(m_white, &QCheckBox::toggled, this, [this](bool on) { m_job->setAnalyzeWhite(on); });
    connect(m_black, &QCheckBox::toggled, this, [this](bool on) { m_job->setAnalyzeBlack(on); });
    connect(m_savePv, &QCheckBox::toggled, this, [this](bool on) { m_job->setSavePv(on); });
    connect(m_saveCount, &QSpinBox::valueChanged, this, [this](int n) { m_job->setSaveCount(n); });
    return controls;
}

// Minutes are 2 to the power of the slider's position; the labels mark the round ones.
QWidget* AnalysisDialog::buildTimeSlider(QWidget* parent)
{
    auto* box = new QWidget(parent);
    m_slider = new QSlider(Qt::Horizontal, box);
    m_slider->setObjectName("time");
    m_slider->setRange(0, 9);
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setValue(m_job->timeSlider());
    auto* grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(m_slider, 0, 0, 1, 10);
    const std::pair<int, const char*> labels[] = {{0, "1 minute"}, {2, "4"},      {3, "8"},
                                                  {4, "16"},       {5, "32"},     {6, "1 hour"},
                                                  {8, "4"},        {9, "8 hours"}};
    for (const auto& [position, text] : labels)
        grid->addWidget(new QLabel(text, box), 1, position, Qt::AlignHCenter);
    connect(m_slider, &QSlider::valueChanged, this,
            [this](int value) { m_job->setTimeSlider(value); });
    return box;
}

// Below the Comment field and left-aligned with it, the status line beside the board; both
// lie outside the window until Show Position makes room.
void AnalysisDialog::placeBoard()
{
    const QPoint comment = m_comment->mapTo(this, QPoint(0, m_comment->height()));
    m_board->move(comment.x(), comment.y() + kBoardMargin);
    m_status->move(m_board->geometry().right() + 1 + kStatusGap, m_board->y());
}

void AnalysisDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    m_controls->resize(width(), m_controls->height());
}

void AnalysisDialog::toggleBoard()
{
    const int step = m_board->height() + kBoardMargin;
    resize(width(), height() + (m_boardShown ? -step : step));
    m_boardShown = !m_boardShown;
}

void AnalysisDialog::start()
{
    m_job->setBeep(m_beep->isChecked());
    m_job->setAnalyzeWhite(m_white->isChecked());
    m_job->setAnalyzeBlack(m_black->isChecked());
    m_job->setSavePv(m_savePv->isChecked());
    m_job->setSaveCount(m_saveCount->value());
    m_job->setTimeSlider(m_slider->value());
    m_job->start();
    showJob();
}

void AnalysisDialog::configure()
{
    if (m_job->running() || m_job->engineActive()) {
        m_beeper.beep(BeepKind::Exclamation);
        return;
    }
    EngineConfigDialog dialog(m_job->settings(), this);
    if (dialog.exec() == QDialog::Accepted)
        m_job->configure(dialog.settings());
}

void AnalysisDialog::showJob()
{
    const AnalysisJob& job = *m_job;
    setWindowTitle(QString::fromStdString(job.title()));
    m_score->setText(QString::fromStdString(job.scoreText()));
    m_pv->setText(QString::fromStdString(job.pvText()));
    m_comment->setText(QString::fromStdString(job.commentText()));
    m_status->setText(QString::fromStdString(job.statusLine()));
    m_board->SetPosition(job.board());
    for (const BoardArrow& arrow : job.arrows())
        m_board->AddArrow(arrow.move, int(arrow.kind), arrow.offset);
    // A range of 0..0 would draw Qt's busy bar; the stopped look is an empty bar.
    m_progress->setRange(0, std::max(job.progressRange(), 1));
    m_progress->setValue(std::min(job.progressPosition(), m_progress->maximum()));
    m_start->setChecked(job.running());
    m_stop->setChecked(!job.running());
}

void AnalysisDialog::analysisChanged(AnalysisJob&)
{
    showJob();
    Q_EMIT jobChanged();
}

void AnalysisDialog::analysisCloseRequested(AnalysisJob&)
{
    if (m_closing)
        return;
    m_closing = true;
    hide();
    Q_EMIT closingDown();
    // Never deleted here: this may run inside the job, on behalf of an engine listener.
    deleteLater();
}

void AnalysisDialog::closeEvent(QCloseEvent* event)
{
    event->ignore();
    reject();
}

void AnalysisDialog::reject()
{
    if (!m_closing)
        m_job->close();
}

} // namespace vez
