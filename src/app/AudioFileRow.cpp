// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/AudioFileRow.h"

namespace {

// The hidden sub-items live in the caption cell's data, one role each.
constexpr int kHiddenRole = Qt::UserRole + 1;

}  // namespace

AudioFileRow::AudioFileRow(const AudioFileRowTexts& texts) {
    SetCaption(texts.caption);
    for (int i = 0; i < kSubItems; ++i) {
        SetSubItem(i, texts.subItems[static_cast<std::size_t>(i)]);
    }
}

AudioFileRow::AudioFileRow(std::shared_ptr<const AudioFileRowTexts> texts) : AudioFileRow(*texts) {
    sharedTexts_ = std::move(texts);
}

std::shared_ptr<const AudioFileRowTexts> AudioFileRow::SharedTexts() const {
    if (!sharedTexts_) {
        sharedTexts_ = std::make_shared<const AudioFileRowTexts>(Texts());
    }
    return sharedTexts_;
}

void AudioFileRow::setData(int column, int role, const QVariant& value) {
    // The language is applied again at every activation of the window, mostly with the words the
    // cells already hold: those leave the record as it is.
    const bool text = role == Qt::DisplayRole || role == Qt::EditRole || role >= kHiddenRole;
    if (sharedTexts_ && text && data(column, role) != value) {
        sharedTexts_.reset();
    }
    QTreeWidgetItem::setData(column, role, value);
}

QString AudioFileRow::SubItem(int index) const {
    if (index < 0 || index >= kSubItems) {
        return QString();
    }
    return index < kShownSubItems ? text(index + 1)
                                  : data(0, kHiddenRole + index - kShownSubItems).toString();
}

void AudioFileRow::SetSubItem(int index, const QString& value) {
    if (index < 0 || index >= kSubItems) {
        return;
    }
    if (index < kShownSubItems) {
        setText(index + 1, value);
    } else {
        setData(0, kHiddenRole + index - kShownSubItems, value);
    }
}

AudioFileRowTexts AudioFileRow::Texts() const {
    AudioFileRowTexts texts;
    texts.caption = Caption();
    for (int i = 0; i < kSubItems; ++i) {
        texts.subItems[static_cast<std::size_t>(i)] = SubItem(i);
    }
    return texts;
}
