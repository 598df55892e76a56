#pragma once

#include "StreamedFileExport.h"

// All messages in one fixed-width text table: date, direction, name, text, one
// line each (line breaks in a message become spaces), under a heading line for
// each chat. The ".doc" export is this too.
class ExportMessagesTxt : public StreamedFileExport
{
public:
    explicit ExportMessagesTxt(const QString &filePath) : StreamedFileExport(filePath) {}

    void begin() override;
    void write(const _ViberMsg &msg) override;

private:
    // "<System>" and a space: every flag stands apart from the name after it.
    static constexpr int kFlagWidth = 9;

    void line(const QString &date, const QString &flag, const QString &name, const QString &text);

    const _ViberChat *m_chat = nullptr; // whose heading was written last
};
