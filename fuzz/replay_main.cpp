// SPDX-FileCopyrightText: 2026 The QuorvelOlvane developers
// SPDX-License-Identifier: MIT
// Replays saved fuzz inputs (seed corpus and past crashes) through a fuzz
// target without libFuzzer, so that every build runs them as a test.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv);
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main(int argc, char *argv[])
{
    LLVMFuzzerInitialize(&argc, &argv);

    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (QFileInfo(arg).isDir()) {
            // Hidden files (.gitkeep) are no inputs.
            for (const QFileInfo &entry : QDir(arg).entryInfoList(QDir::Files, QDir::Name))
                files << entry.absoluteFilePath();
        } else {
            files << arg;
        }
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "replay: no inputs found\n");
        return 1;
    }
    for (const QString &name : files) {
        QFile file(name);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "replay: cannot read %s\n", qPrintable(name));
            return 1;
        }
        const QByteArray data = file.readAll();
        std::fprintf(stderr, "replay: %s (%lld bytes)\n", qPrintable(name),
                     static_cast<long long>(data.size()));
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(data.constData()),
                               static_cast<std::size_t>(data.size()));
    }
    std::fprintf(stderr, "replay: %lld inputs, no failure\n", static_cast<long long>(files.size()));
    return 0;
}
