#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace brumlis {

/// The command line the window programs share: `<program> [--data MAPP] [MAPP]`, with
/// --help and --version.
class WindowCommandLine {
public:
    /// `description`: what the program does, the lines --help prints under its usage.
    WindowCommandLine(QString program, QString description)
        : m_program(std::move(program))
        , m_description(std::move(description)) {}

    /// Before QApplication exists, so that they need no display: answers --help or
    /// --version on stdout. The exit status when one was asked for.
    std::optional<int> answerEarly(int argc, char* argv[]) const;
    /// Once QApplication has taken its own options out: the folder named (empty when
    /// none), or nothing once a bad command line has been reported on stderr.
    std::optional<QString> givenDataDir(const QStringList& arguments) const;

    /// What is wrong with `arguments` (argv[0] first), in Swedish; empty when nothing.
    static QString problem(const QStringList& arguments, QString* given = nullptr);

private:
    QString usage() const;

    QString m_program;
    QString m_description;
};

} // namespace brumlis
