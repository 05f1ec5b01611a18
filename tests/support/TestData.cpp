#include "support/TestData.h"

#include <clocale>
#include <fstream>
#include <stdexcept>

namespace tidewire {
namespace testdata {
namespace {

std::vector<std::string> SplitOnTabs(const std::string& line) {
    std::vector<std::string> cells;
    size_t start = 0;
    while (true) {
        const size_t tab = line.find('\t', start);
        if (tab == std::string::npos) {
            cells.push_back(line.substr(start));
            return cells;
        }
        cells.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

}  // namespace

std::string TestDataPath(const std::string& fileName) {
    return std::string(TIDEWIRE_TESTDATA_DIR) + "/" + fileName;
}

std::string UnescapeTsvCell(const std::string& cell) {
    std::string text;
    text.reserve(cell.size());
    for (size_t i = 0; i < cell.size(); ++i) {
        if (cell[i] != '\\' || i + 1 == cell.size()) {
            text += cell[i];
            continue;
        }
        switch (cell[i + 1]) {
            case '\\':
                text += '\\';
                break;
            case 't':
                text += '\t';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            default:
                text += cell[i];
                continue;
        }
        ++i;
    }
    return text;
}

ScopedCtypeLocale::ScopedCtypeLocale(const char* name) {
    const char* const current = setlocale(LC_CTYPE, nullptr);
    previous_ = current != nullptr ? current : "C";
    active_ = setlocale(LC_CTYPE, name) != nullptr;
}

ScopedCtypeLocale::~ScopedCtypeLocale() {
    if (active_) {
        setlocale(LC_CTYPE, previous_.c_str());
    }
}

bool TsvTable::Load(const std::string& fileName, std::string& error) {
    columns_.clear();
    rows_.clear();
    lines_.clear();
    const std::string path = TestDataPath(fileName);
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    std::string line;
    size_t lineNumber = 0;
    while (std::getline(file, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (lineNumber == 1) {
            columns_ = SplitOnTabs(line);
            continue;
        }
        if (line.empty()) {
            continue;
        }
        std::vector<std::string> cells = SplitOnTabs(line);
        if (cells.size() != columns_.size()) {
            error = path + ":" + std::to_string(lineNumber) + ": " + std::to_string(cells.size()) +
                    " cells for " + std::to_string(columns_.size()) + " columns";
            return false;
        }
        for (std::string& cell : cells) {
            cell = UnescapeTsvCell(cell);
        }
        rows_.push_back(std::move(cells));
        lines_.push_back(lineNumber);
    }
    if (columns_.empty() || (columns_.size() == 1 && columns_[0].empty())) {
        error = path + ": no header row";
        return false;
    }
    return true;
}

const std::string& TsvTable::Cell(size_t row, const std::string& column) const {
    for (size_t i = 0; i < columns_.size(); ++i) {
        if (columns_[i] == column) {
            return rows_.at(row).at(i);
        }
    }
    throw std::out_of_range("no column " + column);
}

}  // namespace testdata
}  // namespace tidewire
