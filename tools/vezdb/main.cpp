// vezdb: headless command-line access to the chess core.
//
//   vezdb perft FEN DEPTH [--nonstandard] [--divide]
//   vezdb moves FEN [--nonstandard] [--descriptive]
//   vezdb create | import | export | stats | games | gameset | delete | merge | clean |
//         split | eco-book ...   (database_commands.h)
//   vezdb serve DB [--port N] [--perm N] [--passwords FILE] [--log FILE]   (serve_command.h)
//
// Exit status: 0 on success, 1 on a failure (its message on standard error), 2 for a usage
// error or a FEN the reader refuses.

#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "chess/fen.h"
#include "chess/movegen.h"
#include "chess/notation.h"
#include "database_commands.h"
#include "serve_command.h"
#include "store/damage.h"

namespace {

using namespace vez;

constexpr int kUsageError = 2;

bool readPosition(Position& pos, const std::string& fen)
{
    if (readFen(pos, fen))
        return true;
    std::cerr << "vezdb: bad FEN: " << fen << '\n';
    return false;
}

// Leaf positions of the legal move tree; the last level is counted, not played.
std::uint64_t perft(const Position& pos, int depth, bool nonstandard)
{
    if (depth == 0)
        return 1;
    MoveList list;
    const int count = legalMoves(pos, list, nonstandard);
    if (depth == 1)
        return std::uint64_t(count);
    std::uint64_t nodes = 0;
    for (int i = 0; i < count; ++i) {
        Position next = pos;
        makeMove(next, list[i]);
        nodes += perft(next, depth - 1, nonstandard);
    }
    return nodes;
}

// Coordinate text of a move, "e2e4"; a pawn arriving on the last rank as another piece
// gets that piece's letter, "e7e8q".
std::string coordinateText(const Position& pos, Move move)
{
    const int from = fromSquare(move);
    const int to = toSquare(move);
    std::string text{char('a' + fileOf(from)), char('1' + rankOf(from)), char('a' + fileOf(to)),
                     char('1' + rankOf(to))};
    const bool pawn = typeOf(pos.squares[from]) == PieceType::Pawn;
    const bool lastRank = rankOf(to) == 0 || rankOf(to) == 7;
    if (pawn && lastRank && pieceTypeOf(move) != PieceType::Pawn)
        text += " pnbrqk"[int(pieceTypeOf(move))];
    return text;
}

int runPerft(const std::string& fen, int depth, bool nonstandard, bool divide)
{
    Position pos;
    if (!readPosition(pos, fen))
        return kUsageError;
    if (!divide || depth == 0) {
        std::cout << perft(pos, depth, nonstandard) << '\n';
        return 0;
    }
    MoveList list;
    const int count = legalMoves(pos, list, nonstandard);
    std::uint64_t total = 0;
    for (int i = 0; i < count; ++i) {
        Position next = pos;
        makeMove(next, list[i]);
        const std::uint64_t nodes = perft(next, depth - 1, nonstandard);
        std::cout << coordinateText(pos, list[i]) << ": " << nodes << '\n';
        total += nodes;
    }
    std::cout << total << '\n';
    return 0;
}

int runMoves(const std::string& fen, bool nonstandard, bool descriptive)
{
    Position pos;
    if (!readPosition(pos, fen))
        return kUsageError;
    std::vector<std::string> texts;
    listMoveTexts(pos, texts, nonstandard, descriptive);
    std::string line;
    for (const std::string& text : texts) {
        if (!line.empty())
            line += ' ';
        line += text;
    }
    std::cout << line << '\n';
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"vezdb: command-line tool of the VEZ chess database", "vezdb"};
    app.require_subcommand(1);

    std::string fen;
    int depth = 0;
    bool nonstandard = false;
    bool divide = false;
    bool descriptive = false;

    CLI::App* perftCommand =
        app.add_subcommand("perft", "Count the leaf positions of the legal move tree");
    perftCommand->add_option("FEN", fen, "Position (en-passant field: file letter)")->required();
    perftCommand->add_option("DEPTH", depth, "Plies to search")
        ->required()
        ->check(CLI::Range(0, 64));
    perftCommand->add_flag("--nonstandard", nonstandard, "Nonstandard rules (no legality filter)");
    perftCommand->add_flag("--divide", divide, "Print the count below each root move first");

    CLI::App* movesCommand =
        app.add_subcommand("moves", "List the legal moves in the order of the legal move list");
    movesCommand->add_option("FEN", fen, "Position (en-passant field: file letter)")->required();
    movesCommand->add_flag("--nonstandard", nonstandard, "Nonstandard rules (no legality filter)");
    movesCommand->add_flag("--descriptive", descriptive, "English descriptive notation");

    vez::DatabaseCommands databaseCommands(app);
    vez::ServeCommand serveCommand(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : kUsageError;
    }

    try {
        if (serveCommand.chosen())
            return serveCommand.run();
        if (*perftCommand)
            return runPerft(fen, depth, nonstandard, divide);
        if (!*movesCommand)
            return databaseCommands.run(argc, argv);
    } catch (const vez::DamagedDatabase& damage) {
        // Damage that no operation below contained: the command fails with its message.
        std::cerr << "vezdb: " << damage.what() << '\n';
        return 1;
    }
    return runMoves(fen, nonstandard, descriptive);
}
