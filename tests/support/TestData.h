// Reads the captured real-world tables (tab-separated, one header row, with the escapes \\ \t
// \n \r in cells) from the folder named by TIDEWIRE_TESTDATA_DIR.
#ifndef TIDEWIRE_TESTS_SUPPORT_TESTDATA_H
#define TIDEWIRE_TESTS_SUPPORT_TESTDATA_H

#include <cstddef>
#include <string>
#include <vector>

namespace tidewire {
namespace testdata {

// One table: the header's column names and the rows' cells, unescaped.
class TsvTable {
  public:
    // Loads fileName from the test-data folder. Returns false and sets error when the file
    // cannot be read, has no header, or a row has a different number of cells.
    bool Load(const std::string& fileName, std::string& error);

    size_t RowCount() const { return rows_.size(); }

    // The cell of the row in the named column; throws std::out_of_range for a column that the
    // table does not have, so a renamed column fails the test instead of reading as empty.
    const std::string& Cell(size_t row, const std::string& column) const;

    // The line number in the file of a row (the header is line 1), for failure messages.
    size_t LineOf(size_t row) const { return lines_.at(row); }

  private:
    std::vector<std::string> columns_;
    std::vector<std::vector<std::string>> rows_;
    std::vector<size_t> lines_;
};

// The path of a file in the test-data folder.
std::string TestDataPath(const std::string& fileName);

// Switches the process's LC_CTYPE for the life of the object and restores the previous one, so
// that tests can play a host that chose a GBK or UTF-8 locale. Active() is false when the
// machine lacks the locale (then nothing was changed).
class ScopedCtypeLocale {
  public:
    explicit ScopedCtypeLocale(const char* name);
    ~ScopedCtypeLocale();
    ScopedCtypeLocale(const ScopedCtypeLocale&) = delete;
    ScopedCtypeLocale& operator=(const ScopedCtypeLocale&) = delete;

    bool Active() const { return active_; }

  private:
    std::string previous_;
    bool active_ = false;
};

// The locales the codec tests play hosts in.
constexpr const char* kGbkLocale = "zh_CN.GBK";
constexpr const char* kUtf8Locale = "C.UTF-8";

// Undoes the cell escapes: \\ to a backslash, \t, \n and \r to TAB, LF and CR. Any other
// backslash is kept as it is.
std::string UnescapeTsvCell(const std::string& cell);

}  // namespace testdata
}  // namespace tidewire

#endif
