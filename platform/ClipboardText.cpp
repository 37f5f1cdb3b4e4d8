#include "platform/ClipboardText.h"

std::unique_ptr<QMimeData> ClipboardText(const QString& text) {
    auto data = std::make_unique<QMimeData>();
    data->setText(text);
    data->setData(QStringLiteral("text/plain;charset=utf-8"), text.toUtf8());
    return data;
}
