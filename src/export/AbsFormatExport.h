#pragma once

// One output file of an export: opened and given its header by begin(), one
// record at a time by write(), completed and closed by finish(). A writer raises
// std::runtime_error with a sentence naming its file when the file cannot be
// opened or written; removing partial output is the caller's.
template <typename T> class AbsFormatExport
{
public:
    AbsFormatExport() = default;
    virtual ~AbsFormatExport() = default;
    AbsFormatExport(const AbsFormatExport &) = delete;
    AbsFormatExport &operator=(const AbsFormatExport &) = delete;

    virtual void begin() = 0;
    virtual void write(const T &record) = 0;
    virtual void finish() = 0;
};
