// Spreadsheets as CSV text: every sheet in order, one line per row that holds a value, a line
// "[sheet name]" before each sheet after the first; cells as they show (dates as ISO 8601,
// numbers without an exponent where that is exact).

#include <freexl.h>
#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <vector>

#include "engine/attachment_text.h"
#include "engine/extraction_text.h"

namespace tallix::engine {
namespace {

constexpr std::string_view kOdsMime = "application/vnd.oasis.opendocument.spreadsheet";
// A row or cell that says it repeats more often than this is taken this often: a sheet's
// trailing empty cells are written as one cell repeated to the last column.
constexpr unsigned long kMaxRepeat = 16384;

// One zip file, read a part at a time with the size of each part capped.
class Zip {
  public:
    explicit Zip(const std::string& path) {
        int error = 0;
        m_zip = ::zip_open(path.c_str(), ZIP_RDONLY, &error);
    }
    ~Zip() {
        if (m_zip) ::zip_discard(m_zip);
    }
    Zip(const Zip&) = delete;
    Zip& operator=(const Zip&) = delete;

    bool IsOpen() const { return m_zip != nullptr; }
    bool Has(const std::string& name) const {
        return m_zip && ::zip_name_locate(m_zip, name.c_str(), 0) >= 0;
    }
    // The part's bytes, at most `cap`; nullopt (and `problem` set) when it is missing, larger
    // than the cap once inflated, or damaged.
    std::optional<std::string> Read(const std::string& name, std::string& problem,
                                    std::size_t cap = kMaxConvertedBytes) const {
        zip_file_t* file = m_zip ? ::zip_fopen(m_zip, name.c_str(), 0) : nullptr;
        if (!file) {
            problem = "the workbook has no part " + name;
            return std::nullopt;
        }
        std::string bytes;
        char chunk[65536];
        zip_int64_t n = 0;
        // The sizes a zip states are not trusted: reading stops at the cap whatever they say.
        while ((n = ::zip_fread(file, chunk, sizeof chunk)) > 0) {
            if (bytes.size() + static_cast<std::size_t>(n) > cap) {
                ::zip_fclose(file);
                problem = "the part " + name + " inflates to more than " +
                          std::to_string(cap >> 20) + " MiB";
                return std::nullopt;
            }
            bytes.append(chunk, static_cast<std::size_t>(n));
        }
        ::zip_fclose(file);
        if (n < 0) {
            problem = "the part " + name + " is damaged";
            return std::nullopt;
        }
        return bytes;
    }

  private:
    zip_t* m_zip = nullptr;
};

// The element's name without its namespace prefix: writers differ in the prefixes they use.
std::string_view Local(const pugi::xml_node& node) {
    const std::string_view name = node.name();
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

const char* Attribute(const pugi::xml_node& node, std::string_view localName) {
    for (const pugi::xml_attribute& a : node.attributes()) {
        std::string_view name = a.name();
        const std::size_t colon = name.find(':');
        if (colon != std::string_view::npos) name.remove_prefix(colon + 1);
        if (name == localName) return a.value();
    }
    return nullptr;
}

std::optional<pugi::xml_document> ParsePart(const Zip& zip, const std::string& name,
                                            std::string& problem, bool required = true) {
    if (!required && !zip.Has(name)) return pugi::xml_document();
    std::optional<std::string> bytes = zip.Read(name, problem);
    if (!bytes) return std::nullopt;
    pugi::xml_document document;
    if (!document.load_buffer(bytes->data(), bytes->size())) {
        problem = "the part " + name + " is not well-formed XML";
        return std::nullopt;
    }
    return document;
}

// Collects the sheets' lines; stops taking more once the text reaches the cap.
class CsvText {
  public:
    void Sheet(std::string_view name) {
        if (m_sheets++ > 0) Line({"[" + std::string(name) + "]"}, false);
    }
    void Row(std::vector<std::string>& cells) {
        while (!cells.empty() && cells.back().empty()) cells.pop_back();
        if (!cells.empty()) Line(cells, true);
    }
    bool Full() const { return m_text.size() >= kMaxConvertedBytes; }
    ConvertedText Done() {
        ConvertedText converted;
        converted.ok = true;
        converted.text = std::move(m_text);
        return converted;
    }

  private:
    void Line(const std::vector<std::string>& cells, bool quote) {
        if (Full()) return;
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i > 0) m_text += ',';
            m_text += quote ? CsvField(cells[i], ",", false) : cells[i];
        }
        m_text += "\r\n";
    }
    std::string m_text;
    int m_sheets = 0;
};

// ---- .xlsx ------------------------------------------------------------------------------------

// Whether a number format shows a date or a time: a built-in date format, or a code holding
// d, m, y, h or s outside quotes and brackets.
bool IsDateFormat(unsigned id, std::string_view code) {
    if ((id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) ||
        (id >= 50 && id <= 58))
        return true;
    bool quoted = false;
    int bracket = 0;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\\') {
            ++i;
            continue;
        }
        if (c == '[') ++bracket;
        if (c == ']' && bracket > 0) --bracket;
        if (bracket > 0) continue;
        switch (c) {
            case 'd':
            case 'D':
            case 'm':
            case 'M':
            case 'y':
            case 'Y':
            case 'h':
            case 'H':
            case 's':
            case 'S':
                return true;
            default:
                break;
        }
    }
    return false;
}

bool ShowsDay(std::string_view code, unsigned id) {
    if (id >= 18 && id <= 21) return false;  // built-in times of day
    if (id == 45 || id == 46 || id == 47) return false;
    if (id != 0 && code.empty()) return true;
    return code.find_first_of("dDyY") != std::string_view::npos ||
           (code.find_first_of("hHsS") == std::string_view::npos);
}

struct CellStyle {
    bool date = false;
    bool day = false;    // shows the day
    bool clock = false;  // shows the time of day
};

// A serial day number of the workbook as an ISO 8601 text.
std::string SerialAsIso(double serial, const CellStyle& style, bool from1904) {
    // Days since 1899-12-30, as the date functions take them. The 1900 system counts a 29
    // February 1900 that never was, so its first two months are one day later.
    double value = from1904 ? serial + 1462 : (serial < 61 ? serial + 1 : serial);
    if (!style.day) return IsoTime(value);
    const bool hasTime = style.clock && std::fabs(value - std::floor(value)) > 1e-9;
    return hasTime ? IsoDate(value) + "T" + IsoTime(value) : IsoDate(value);
}

// The column of a cell reference ("C7" is 2); -1 when there is none.
long ColumnOf(const char* reference) {
    if (!reference) return -1;
    long column = 0;
    bool any = false;
    for (const char* p = reference; *p; ++p) {
        if (*p >= 'A' && *p <= 'Z') {
            column = column * 26 + (*p - 'A' + 1);
            any = true;
            if (column > static_cast<long>(kMaxRepeat)) return -1;
        } else {
            break;
        }
    }
    return any ? column - 1 : -1;
}

// All the text runs of a string item, without the phonetic guides.
std::string RunsText(const pugi::xml_node& item) {
    std::string text;
    for (const pugi::xml_node& child : item.children()) {
        const std::string_view name = Local(child);
        if (name == "t") text += child.text().get();
        if (name == "r")
            for (const pugi::xml_node& t : child.children())
                if (Local(t) == "t") text += t.text().get();
    }
    return text;
}

std::string RelativeToXl(std::string target) {
    if (target.starts_with("/")) return target.substr(1);
    return "xl/" + target;
}

}  // namespace

AttachmentKind KindOfZip(const std::string& path) {
    const Zip zip(path);
    if (!zip.IsOpen()) return AttachmentKind::Other;
    if (zip.Has("xl/workbook.xml")) return AttachmentKind::Xlsx;
    if (zip.Has("xl/workbook.bin")) return AttachmentKind::BinaryWorkbook;
    std::string problem;
    if (const std::optional<std::string> mime = zip.Read("mimetype", problem, 256))
        if (*mime == kOdsMime) return AttachmentKind::Ods;
    return AttachmentKind::Other;
}

ConvertedText XlsxText(const std::string& path) {
    ConvertedText failed;
    const Zip zip(path);
    if (!zip.IsOpen()) {
        failed.problem = "not a zip file that can be read";
        return failed;
    }
    std::string& problem = failed.problem;
    const auto workbook = ParsePart(zip, "xl/workbook.xml", problem);
    const auto relations = ParsePart(zip, "xl/_rels/workbook.xml.rels", problem);
    const auto shared = ParsePart(zip, "xl/sharedStrings.xml", problem, false);
    const auto styles = ParsePart(zip, "xl/styles.xml", problem, false);
    if (!workbook || !relations || !shared || !styles) return failed;

    std::map<std::string, std::string> targets;
    for (const pugi::xml_node& r : relations->document_element().children())
        if (const char* id = Attribute(r, "Id"))
            if (const char* target = Attribute(r, "Target")) targets[id] = target;

    std::vector<std::string> strings;
    for (const pugi::xml_node& si : shared->document_element().children())
        if (Local(si) == "si") strings.push_back(RunsText(si));

    std::map<unsigned, std::string> formats;
    std::vector<CellStyle> cellStyles;
    for (const pugi::xml_node& part : styles->document_element().children()) {
        if (Local(part) == "numFmts")
            for (const pugi::xml_node& f : part.children())
                formats[std::strtoul(Attribute(f, "numFmtId") ? Attribute(f, "numFmtId") : "0",
                                     nullptr, 10)] =
                    Attribute(f, "formatCode") ? Attribute(f, "formatCode") : "";
        if (Local(part) == "cellXfs")
            for (const pugi::xml_node& xf : part.children()) {
                const char* idText = Attribute(xf, "numFmtId");
                const unsigned id = idText ? std::strtoul(idText, nullptr, 10) : 0;
                const std::string& code = formats[id];
                CellStyle style;
                style.date = IsDateFormat(id, code);
                style.day = ShowsDay(code, id);
                style.clock = (id >= 18 && id <= 22) || (id >= 45 && id <= 47) ||
                              code.find_first_of("hH") != std::string::npos;
                cellStyles.push_back(style);
            }
    }

    bool from1904 = false;
    pugi::xml_node sheets;
    for (const pugi::xml_node& part : workbook->document_element().children()) {
        if (Local(part) == "workbookPr") {
            const char* d = Attribute(part, "date1904");
            from1904 = d && (std::string_view(d) == "1" || std::string_view(d) == "true");
        }
        if (Local(part) == "sheets") sheets = part;
    }

    CsvText csv;
    for (const pugi::xml_node& sheet : sheets.children()) {
        if (csv.Full()) break;
        const char* id = Attribute(sheet, "id");
        const auto target = id ? targets.find(id) : targets.end();
        if (target == targets.end()) continue;
        const auto data = ParsePart(zip, RelativeToXl(target->second), problem);
        if (!data) return failed;
        csv.Sheet(Attribute(sheet, "name") ? Attribute(sheet, "name") : "");
        pugi::xml_node rows;
        for (const pugi::xml_node& part : data->document_element().children())
            if (Local(part) == "sheetData") rows = part;
        for (const pugi::xml_node& row : rows.children()) {
            if (csv.Full()) break;
            std::vector<std::string> cells;
            for (const pugi::xml_node& c : row.children()) {
                if (Local(c) != "c") continue;
                long column = ColumnOf(Attribute(c, "r"));
                if (column < 0) column = static_cast<long>(cells.size());
                std::string raw;
                const char* type = Attribute(c, "t");
                const std::string_view t = type ? type : "n";
                for (const pugi::xml_node& part : c.children()) {
                    if (Local(part) == "v") raw = part.text().get();
                    if (Local(part) == "is") raw = RunsText(part);
                }
                std::string value;
                if (t == "s") {
                    const unsigned long index = std::strtoul(raw.c_str(), nullptr, 10);
                    if (index < strings.size()) value = strings[index];
                } else if (t == "b") {
                    value = raw == "1" ? "TRUE" : raw.empty() ? "" : "FALSE";
                } else if (t == "n" && !raw.empty()) {
                    const char* s = Attribute(c, "s");
                    const unsigned long styleIndex = s ? std::strtoul(s, nullptr, 10) : 0;
                    const CellStyle style =
                        styleIndex < cellStyles.size() ? cellStyles[styleIndex] : CellStyle{};
                    char* end = nullptr;
                    const double serial = std::strtod(raw.c_str(), &end);
                    if (style.date && end && *end == '\0' && serial >= 0 && serial < 2958466)
                        value = SerialAsIso(serial, style, from1904);
                    else
                        value = PlainNumber(raw);
                } else {
                    value = raw;  // str, inlineStr, e (an error such as #DIV/0!), d
                }
                if (static_cast<std::size_t>(column) >= cells.size()) cells.resize(column + 1);
                cells[column] = std::move(value);
            }
            csv.Row(cells);
        }
    }
    return csv.Done();
}

// ---- .ods -------------------------------------------------------------------------------------

namespace {

void ParagraphText(const pugi::xml_node& node, std::string& text) {
    for (const pugi::xml_node& child : node.children()) {
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) {
            text += child.value();
            continue;
        }
        const std::string_view name = Local(child);
        if (name == "s") {
            const char* c = Attribute(child, "c");
            text.append(std::min<unsigned long>(c ? std::strtoul(c, nullptr, 10) : 1, 1024), ' ');
        } else if (name == "tab") {
            text += '\t';
        } else if (name == "line-break") {
            text += '\n';
        } else if (name != "annotation") {
            ParagraphText(child, text);
        }
    }
}

unsigned long Repeats(const pugi::xml_node& node, std::string_view attribute) {
    const char* n = Attribute(node, attribute);
    const unsigned long count = n ? std::strtoul(n, nullptr, 10) : 1;
    return std::clamp<unsigned long>(count, 1, kMaxRepeat);
}

std::string OdsCell(const pugi::xml_node& cell) {
    const char* type = Attribute(cell, "value-type");
    const std::string_view t = type ? type : "";
    if (t == "float" || t == "percentage" || t == "currency") {
        if (const char* v = Attribute(cell, "value")) return PlainNumber(v);
    } else if (t == "date") {
        if (const char* v = Attribute(cell, "date-value")) return v;
    } else if (t == "time") {
        // "PT10H30M00S" as "10:30:00".
        if (const char* v = Attribute(cell, "time-value")) {
            unsigned h = 0, m = 0;
            double s = 0;
            if (std::sscanf(v, "PT%uH%uM%lfS", &h, &m, &s) == 3) {
                char text[16];
                std::snprintf(text, sizeof text, "%02u:%02u:%02u", h, m, static_cast<unsigned>(s));
                return text;
            }
            return v;
        }
    } else if (t == "boolean") {
        if (const char* v = Attribute(cell, "boolean-value"))
            return std::string_view(v) == "true" ? "TRUE" : "FALSE";
    }
    std::string text;
    bool first = true;
    for (const pugi::xml_node& p : cell.children()) {
        if (Local(p) != "p") continue;
        if (!first) text += '\n';
        first = false;
        ParagraphText(p, text);
    }
    return text;
}

void OdsRows(const pugi::xml_node& parent, CsvText& csv) {
    for (const pugi::xml_node& node : parent.children()) {
        if (csv.Full()) return;
        const std::string_view name = Local(node);
        if (name == "table-header-rows" || name == "table-row-group" || name == "table-rows") {
            OdsRows(node, csv);
            continue;
        }
        if (name != "table-row") continue;
        std::vector<std::string> cells;
        for (const pugi::xml_node& cell : node.children()) {
            const std::string_view kind = Local(cell);
            if (kind != "table-cell" && kind != "covered-table-cell") continue;
            const std::string value = OdsCell(cell);
            const unsigned long times = Repeats(cell, "number-columns-repeated");
            // Empty cells repeated to the sheet's edge add nothing the row trims away.
            for (unsigned long i = 0; i < times && cells.size() < kMaxRepeat; ++i)
                cells.push_back(value);
        }
        while (!cells.empty() && cells.back().empty()) cells.pop_back();
        if (cells.empty()) continue;
        for (unsigned long i = Repeats(node, "number-rows-repeated"); i > 0 && !csv.Full(); --i) {
            std::vector<std::string> copy = cells;
            csv.Row(copy);
        }
    }
}

}  // namespace

ConvertedText OdsText(const std::string& path) {
    ConvertedText failed;
    const Zip zip(path);
    if (!zip.IsOpen()) {
        failed.problem = "not a zip file that can be read";
        return failed;
    }
    const auto content = ParsePart(zip, "content.xml", failed.problem);
    if (!content) return failed;
    CsvText csv;
    for (const pugi::xml_node& body : content->document_element().children()) {
        if (Local(body) != "body") continue;
        for (const pugi::xml_node& spreadsheet : body.children()) {
            if (Local(spreadsheet) != "spreadsheet") continue;
            for (const pugi::xml_node& table : spreadsheet.children()) {
                if (Local(table) != "table") continue;
                csv.Sheet(Attribute(table, "name") ? Attribute(table, "name") : "");
                OdsRows(table, csv);
            }
        }
    }
    return csv.Done();
}

// ---- .xls -------------------------------------------------------------------------------------

ConvertedText XlsText(const std::string& path) {
    ConvertedText failed;
    const void* handle = nullptr;
    if (::freexl_open(path.c_str(), &handle) != FREEXL_OK) {
        if (handle) ::freexl_close(handle);
        failed.problem = "not an Excel 97-2003 workbook that can be read";
        return failed;
    }
    const std::unique_ptr<const void, int (*)(const void*)> closer(handle, ::freexl_close);
    unsigned int sheets = 0;
    if (::freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &sheets) != FREEXL_OK) sheets = 0;
    CsvText csv;
    for (unsigned short s = 0; s < sheets && !csv.Full(); ++s) {
        const char* name = nullptr;
        if (::freexl_get_worksheet_name(handle, s, &name) != FREEXL_OK) name = nullptr;
        if (::freexl_select_active_worksheet(handle, s) != FREEXL_OK) continue;
        unsigned int rows = 0;
        unsigned short columns = 0;
        if (::freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK) continue;
        csv.Sheet(name ? name : "");
        for (unsigned int r = 0; r < rows && !csv.Full(); ++r) {
            std::vector<std::string> cells(columns);
            for (unsigned short c = 0; c < columns; ++c) {
                FreeXL_CellValue cell;
                if (::freexl_get_cell_value(handle, r, c, &cell) != FREEXL_OK) continue;
                switch (cell.type) {
                    case FREEXL_CELL_INT:
                        cells[c] = std::to_string(cell.value.int_value);
                        break;
                    case FREEXL_CELL_DOUBLE: {
                        char digits[64];
                        const auto w =
                            std::to_chars(digits, digits + sizeof digits, cell.value.double_value);
                        cells[c] = PlainNumber(std::string_view(digits, w.ptr - digits));
                        break;
                    }
                    case FREEXL_CELL_TEXT:
                    case FREEXL_CELL_SST_TEXT:
                    case FREEXL_CELL_DATE:
                    case FREEXL_CELL_TIME:
                        cells[c] = cell.value.text_value ? cell.value.text_value : "";
                        break;
                    case FREEXL_CELL_DATETIME: {
                        std::string text = cell.value.text_value ? cell.value.text_value : "";
                        if (text.size() > 10 && text[10] == ' ') text[10] = 'T';
                        cells[c] = std::move(text);
                        break;
                    }
                    default:
                        break;
                }
            }
            csv.Row(cells);
        }
    }
    return csv.Done();
}

}  // namespace tallix::engine
