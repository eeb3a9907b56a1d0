#pragma once

#include <QString>
#include <QTemporaryFile>

namespace join {

// A join writes into a hidden file beside its output, which takes the output's name only when the
// join has finished: a failed, cancelled or interrupted join leaves no half-written file, and an
// existing one byte for byte as it was.
class PartialOutput {
public:
    explicit PartialOutput(const QString& output);

    bool Create();
    QString Path() const { return file_.fileName(); }
    QString ErrorText() const { return file_.errorString(); }

    // Gives the finished file the output's name, with the permissions a new file gets (or the
    // replaced file had). Without overwrite an output that appeared meanwhile is kept.
    bool Commit(bool overwrite);

private:
    QString output_;
    QTemporaryFile file_;
};

}  // namespace join
