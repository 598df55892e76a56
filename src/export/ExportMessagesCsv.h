#pragma once

#include "StreamedFileExport.h"

// All messages as comma-separated rows: date, sent or not, person, number,
// content. The file starts with a UTF-8 byte-order mark, by which spreadsheets
// know its encoding.
class ExportMessagesCsv : public StreamedFileExport
{
public:
    explicit ExportMessagesCsv(const QString &filePath) : StreamedFileExport(filePath, true) {}

    void begin() override;
    void write(const _ViberMsg &msg) override;

    // The field as written: a ' before a field starting with =, +, -, @, a tab or a
    // carriage return, which spreadsheets would run as a formula; doubled quotes,
    // and quoted as a whole when it holds a quote, a comma, a line feed or a
    // carriage return.
    static QString quoted(const QString &field);
};
