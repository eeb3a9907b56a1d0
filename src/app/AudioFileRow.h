// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/RowTexts.h"

#include <QTreeWidgetItem>

#include <memory>

// One row of the file list: the file name as caption and ten sub-items. Sub-items 0 to 5 are the
// shown cells of columns 1 to 6; sub-items 6 to 9 are plain decimal numbers kept for the program
// (sample rate, channel count, bits per sample, whole seconds) and have no column.
class AudioFileRow : public QTreeWidgetItem {
public:
    static constexpr int kSubItems = 10;
    static constexpr int kShownSubItems = 6;

    AudioFileRow() = default;
    explicit AudioFileRow(const AudioFileRowTexts& texts);
    // A row of texts kept before, for Undo: the row holds on to them as they are shared.
    explicit AudioFileRow(std::shared_ptr<const AudioFileRowTexts> texts);

    QString Caption() const { return text(0); }
    void SetCaption(const QString& caption) { setText(0, caption); }
    QString SubItem(int index) const;
    void SetSubItem(int index, const QString& value);
    AudioFileRowTexts Texts() const;
    // The texts as one record, made again only after one of them has changed: each of Undo's copies
    // of a list of thousands holds the same record instead of its own eleven strings per row.
    std::shared_ptr<const AudioFileRowTexts> SharedTexts() const;

    void setData(int column, int role, const QVariant& value) override;

    QString SampleRateText() const { return SubItem(0); }
    QString ChannelsText() const { return SubItem(1); }
    QString BitsText() const { return SubItem(2); }
    QString SizeText() const { return SubItem(3); }
    QString DurationText() const { return SubItem(4); }
    QString Folder() const { return SubItem(5); }
    int SampleRate() const { return SubItem(6).toInt(); }
    int Channels() const { return SubItem(7).toInt(); }
    int Bits() const { return SubItem(8).toInt(); }
    std::uint64_t Seconds() const { return SubItem(9).toULongLong(); }

    // The full path: the folder followed by the caption.
    QString FullPath() const { return Folder() + Caption(); }

private:
    mutable std::shared_ptr<const AudioFileRowTexts> sharedTexts_;
};
