// What the analysis job makes of each engine record: the texts and arrows it shows, the
// scores, glyphs and principal variations it stores, and the walk through the game.
#include "app/analysis_job.h"
#include "app/document.h"
#include "chess/notation.h"
#include "interchange/game.h"

namespace vez {

std::string moveNumberText(const Position& before, int ply)
{
    // Counted from the ply, one further when the game began with Black to move.
    const int n = ply + ((before.sideToMove == kBlack) != (ply % 2 == 1) ? 1 : 0);
    return std::to_string(n / 2 + 1) + (n % 2 == 0 ? "." : "...");
}

void AnalysisJob::onRecord(const EngineRecord& record)
{
    const Position searched = m_dialogue.board();
    const std::vector<Move> pv = pvMoves(searched, record.pvText, m_saveCount);
    showRecord(record, pv);
    if (record.stop)
        m_searchStopped = true;
    if (!record.moveMade)
        return;
    const ScoreSwing score = m_dialogue.takeScore(m_scoreText, searched.sideToMove == kWhite);
    SearchResult result;
    result.position = searched;
    result.ply = m_game ? m_ply : -1;
    result.centipawns = score.centipawns;
    result.swing = score.swing;
    result.pv = pv;
    storeResults(score, result);
    if (m_observer)
        m_observer->analysisSearched(*this, result);
    if (record.stop)
        return;
    if (m_game && m_ply < m_game->endPly - 1)
        walkGame(record);
    else
        finishGame();
}

void AnalysisJob::showRecord(const EngineRecord& record, const std::vector<Move>& pv)
{
    if (record.newScore)
        m_scoreText = shownScore(record.scoreText, m_dialogue.board().sideToMove == kBlack);
    m_pvText = record.pvText;
    m_commentText = record.commentText;
    std::erase_if(m_arrows,
                  [](const BoardArrow& a) { return a.kind == AnalysisArrow::EngineMove; });
    if (!pv.empty())
        m_arrows.push_back({pv.front(), AnalysisArrow::EngineMove});
    if (record.progressSeconds >= 0)
        m_progressPosition = record.progressSeconds;
    changed();
}

// The principal variation goes into the game (or to the view), the score and the glyph to
// the game's move that led to the searched position.
void AnalysisJob::storeResults(const ScoreSwing& score, SearchResult& result)
{
    const bool database = m_doc.database() != nullptr;
    if (m_savePv && database && !result.pv.empty()) {
        if (m_game) {
            if (!m_game->findLine(*m_game, m_ply, result.pv.front())) {
                std::vector<MoveWithGlyph> moves;
                for (Move move : result.pv)
                    moves.push_back({move, 0});
                m_game->addLine(*m_game, m_ply, moves, score.centipawns, "");
                result.variationAdded = true;
                storeGame();
                m_doc.UpdateAllViews(nullptr, UpdateHint::VariationAdded);
            }
        } else if (m_view) {
            m_view->analysisVariation(*this, score.centipawns, result.position, result.pv);
        }
    }
    if (!m_game || m_ply <= m_game->startPly || !database)
        return;
    MoveEntry* entry = m_game->entryAt(m_ply - 1);
    if (!entry)
        return;
    if (entry->score != score.centipawns) {
        entry->score = score.centipawns;
        storeGame();
        m_doc.UpdateAllViews(nullptr, UpdateHint::PositionScore);
    }
    result.glyph = glyphForSwing(score.swing, m_settings.margin1, m_settings.margin2);
    if (result.glyph != MoveGlyph::None && entry->glyph != int(result.glyph)) {
        entry->glyph = int(result.glyph);
        storeGame();
        m_doc.UpdateAllViews(nullptr, UpdateHint::MoveGlyph);
    }
}

// Stored as a new game, which the store folds into the copy already there.
void AnalysisJob::storeGame() { m_doc.addAnalysedGame(*m_game); }

void AnalysisJob::playOnBoard(Move move)
{
    Position board = m_dialogue.board();
    makeMove(board, move);
    m_dialogue.setBoard(board);
}

// Sent to the engine: SAN, or coordinates where the move is not legal.
std::string AnalysisJob::moveText(const Position& before, Move move) const
{
    return formatMove(before, move, false, MoveGlyph::None, false);
}

// The engine has searched the position at ply: the game's move there is played (the engine
// is told when it chose another), and so is the reply when its side is not analysed; then
// the engine searches on.
void AnalysisJob::walkGame(const EngineRecord& record)
{
    Position before = m_dialogue.board();
    m_currentGameMove = m_game->entryAt(m_ply)->move;
    Position after = before;
    makeMove(after, m_currentGameMove);
    if (record.move != Move::None && record.move != m_currentGameMove)
        write("force " + moveText(before, m_currentGameMove) + "\n");
    std::string next = "go\n";
    bool finished = false;
    if (sideSkipped(after)) {
        ++m_ply;
        before = after;
        m_currentGameMove = m_game->entryAt(m_ply)->move;
        makeMove(after, m_currentGameMove);
        next = moveText(before, m_currentGameMove) + "\n";
        finished = m_ply >= m_game->endPly - 1;
    }
    m_dialogue.setBoard(after);
    if (record.move == Move::None) {
        m_scoreText.clear();
        m_pvText.clear();
        m_commentText.clear();
        sendPosition();
    } else if (!finished) {
        m_searchStopped = false;
        write(next);
    }

    m_statusLine = "After " + moveNumberText(before, m_ply) + " " +
                   formatMove(before, m_currentGameMove, m_doc.isNonstandard(), MoveGlyph::None,
                              m_doc.descriptiveNotation());

    m_arrows = {{m_currentGameMove, AnalysisArrow::GameMove}};
    if (m_ply < m_game->endPly - 1) {
        ++m_ply;
        m_arrows.push_back({m_game->entryAt(m_ply)->move, AnalysisArrow::NextGameMove});
    }
    m_progressPosition = m_ply;
    changed();
    if (finished)
        finishGame();
}

// The game is marked with the minutes it was analysed for; a gameset goes on with its next
// game, anything else but the Co-Pilot lets the engine go.
void AnalysisJob::finishGame()
{
    if (m_game) {
        m_game->setTag("AnalysisMins", std::to_string(m_minutes));
        storeGame();
    }
    if (m_kind == AnalysisJobKind::Gameset && takeNextAnalysableGame()) {
        write("new\n");
        sendSetup();
        if (sideSkipped(m_dialogue.board()))
            passOverMove();
        sendPosition();
        changed();
        return;
    }
    if (!m_coPilot)
        write("quit\n");
}

} // namespace vez
