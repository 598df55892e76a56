#pragma once

#include "StreamedFileExport.h"

// All messages in one fixed-width text table: date, direction, name, text, one
// line each (line breaks in a message become spaces). The ".doc" export is this too.
class ExportMessagesTxt : public StreamedFileExport
{
public:
    explicit ExportMessagesTxt(const QString &filePath) : StreamedFileExport(filePath) {}

    void begin() override;
    void write(const _ViberMsg &msg) override;

private:
    void line(const QString &date, const QString &flag, const QString &name, const QString &text);
};
