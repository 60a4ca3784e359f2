#include "tests/convert/jetwriter.h"

#include <iconv.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <utility>

namespace {

// ---- Bytes ---------------------------------------------------------------------------------

void Put8(std::string& b, size_t at, uint32_t v) {
    if (b.size() < at + 1) b.resize(at + 1, '\0');
    b[at] = static_cast<char>(v & 0xFF);
}
void Put16(std::string& b, size_t at, uint32_t v) {
    Put8(b, at, v);
    Put8(b, at + 1, v >> 8);
}
void Put32(std::string& b, size_t at, uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
void Append16(std::string& b, uint32_t v) { Put16(b, b.size(), v); }
void Append32(std::string& b, uint32_t v) { Put32(b, b.size(), v); }

std::string Iconv(const std::string& text, const char* to, const char* from) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return text;
    std::string out(text.size() * 4 + 16, '\0');
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    char* outp = out.data();
    size_t outLeft = out.size();
    iconv(cd, &in, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

// ---- The two formats -----------------------------------------------------------------------

struct Format {
    bool jet3;
    size_t page;       // page size
    size_t rowCount;   // offset of the row count on a data page; the row offsets follow it
};

constexpr Format kJet3{true, 2048, 8};
constexpr Format kJet4{false, 4096, 12};

// The column type of the catalog's LvProp column (long binary); always null here.
constexpr int kOleType = 0x0B;

int FixedSize(int type) {
    switch (type) {
        case 0x01: return 0;  // boolean: held in the null mask
        case 0x02: return 1;
        case 0x03: return 2;
        case 0x04: return 4;
        case 0x06: return 4;
        case 0x05:
        case 0x07:
        case 0x08: return 8;
        default: return -1;  // variable length
    }
}

// ---- Pages ---------------------------------------------------------------------------------

class PageFile {
public:
    explicit PageFile(const Format& f) : f_(f) {}
    uint32_t Add() {
        pages_.emplace_back(f_.page, '\0');
        return static_cast<uint32_t>(pages_.size() - 1);
    }
    std::string& operator[](uint32_t n) { return pages_[n]; }
    size_t size() const { return pages_.size(); }
    std::string Bytes() const {
        std::string all;
        for (const std::string& p : pages_) all += p;
        return all;
    }

private:
    Format f_;
    std::vector<std::string> pages_;
};

// Packs rows into data pages of one owner (a table's definition page, or "LVAL"), from the
// end of each page down, with the row offsets after the row count. Gives the row pointer
// (page << 8 | row).
class RowPacker {
public:
    RowPacker(PageFile& file, const Format& f, uint32_t owner, bool lval = false)
        : file_(file), f_(f), owner_(owner), lval_(lval) {}

    static size_t MaxRow(const Format& f) { return f.page - f.rowCount - 4; }

    uint32_t Add(const std::string& row) {
        if (!current_ || !Fits(row.size())) NewPage();
        std::string& p = file_[current_];
        const uint32_t rows = Get16(p, f_.rowCount);
        end_ -= row.size();
        p.replace(end_, row.size(), row);
        Put16(p, f_.rowCount + 2 + 2 * rows, static_cast<uint32_t>(end_));
        Put16(p, f_.rowCount, rows + 1);
        Put16(p, 2, static_cast<uint32_t>(end_ - (f_.rowCount + 2 + 2 * (rows + 1))));
        return (current_ << 8) | rows;
    }
    // Starts the packing on a page added beforehand.
    void UsePage(uint32_t page) {
        current_ = page;
        Init(page);
    }
    const std::vector<uint32_t>& pages() const { return pages_; }

private:
    static uint32_t Get16(const std::string& p, size_t at) {
        return static_cast<unsigned char>(p[at]) | static_cast<unsigned char>(p[at + 1]) << 8;
    }
    bool Fits(size_t len) const {
        const uint32_t rows = Get16(file_[current_], f_.rowCount);
        return rows < 255 && end_ >= len + f_.rowCount + 2 + 2 * (rows + 1);
    }
    void NewPage() {
        current_ = file_.Add();
        Init(current_);
    }
    void Init(uint32_t page) {
        std::string& p = file_[page];
        Put8(p, 0, 0x01);
        Put8(p, 1, 0x01);
        if (lval_) {
            p.replace(4, 4, "LVAL");
        } else {
            Put32(p, 4, owner_);
        }
        Put16(p, f_.rowCount, 0);
        end_ = f_.page;
        pages_.push_back(page);
    }

    PageFile& file_;
    Format f_;
    uint32_t owner_;
    bool lval_;
    uint32_t current_ = 0;
    size_t end_ = 0;
    std::vector<uint32_t> pages_;
};

// A column as laid out: its number, and where a row holds it.
struct Layout {
    std::string name;
    int type = 0;
    int length = 0;       // column length in bytes as the definition states it
    bool fixed = false;
    int fixedOffset = 0;  // fixed columns: offset in the fixed area
    int varIndex = 0;     // variable columns: index among them
};

struct TableDef {
    std::string name;
    bool system = false;
    std::vector<Layout> columns;
    int varCount = 0;
};

TableDef LayOut(const std::string& name, const std::vector<JetColumn>& columns, bool jet3) {
    TableDef def;
    def.name = name;
    int fixedOffset = 0;
    for (const JetColumn& c : columns) {
        Layout l;
        l.name = c.name;
        l.type = static_cast<int>(c.type);
        const int size = FixedSize(l.type);
        l.fixed = size >= 0;
        if (l.fixed) {
            l.fixedOffset = fixedOffset;
            fixedOffset += size;
            l.length = size == 0 ? 1 : size;
        } else {
            l.varIndex = def.varCount++;
            l.length = l.type == static_cast<int>(JetType::Text)
                           ? (jet3 ? c.textChars : 2 * c.textChars)
                           : 0;
        }
        def.columns.push_back(l);
    }
    return def;
}

std::string EncodeText(const Format& f, const std::string& sjis) {
    return f.jet3 ? sjis : Iconv(sjis, "UCS-2LE", "CP932");
}

std::string EncodeName(const Format& f, const std::string& name) {
    std::string out;
    if (f.jet3) {
        Put8(out, 0, static_cast<uint32_t>(name.size()));
        out += name;
    } else {
        const std::string ucs = Iconv(name, "UCS-2LE", "CP932");
        Append16(out, static_cast<uint32_t>(ucs.size()));
        out += ucs;
    }
    return out;
}

// The table definition page.
std::string DefinitionPage(const Format& f, const TableDef& def, uint32_t rows, uint32_t map) {
    std::string p(f.page, '\0');
    Put8(p, 0, 0x02);
    Put8(p, 1, 0x01);
    const int ncols = static_cast<int>(def.columns.size());
    size_t at;
    if (f.jet3) {
        p.replace(2, 2, "VC");
        Put32(p, 12, rows);
        Put8(p, 20, def.system ? 0x53 : 0x4E);
        Put16(p, 21, ncols);
        Put16(p, 23, def.varCount);
        Put16(p, 25, ncols);
        Put32(p, 35, map);
        Put32(p, 39, map);
        at = 43;
    } else {
        Put32(p, 16, rows);
        Put8(p, 24, 0x01);
        Put8(p, 40, def.system ? 0x53 : 0x4E);
        Put16(p, 41, ncols);
        Put16(p, 43, def.varCount);
        Put16(p, 45, ncols);
        Put32(p, 55, map);
        Put32(p, 59, map);
        at = 63;
    }
    for (int i = 0; i < ncols; ++i) {
        const Layout& c = def.columns[i];
        const uint32_t flags = c.fixed ? 0x03 : 0x02;
        if (f.jet3) {
            Put8(p, at, c.type);
            Put16(p, at + 1, i);
            Put16(p, at + 3, c.varIndex);
            Put16(p, at + 5, i);
            Put16(p, at + 9, 0x409);
            if (c.type == static_cast<int>(JetType::Text) ||
                c.type == static_cast<int>(JetType::Memo))
                Put16(p, at + 11, 932);
            Put8(p, at + 13, flags);
            Put16(p, at + 14, c.fixedOffset);
            Put16(p, at + 16, c.length);
            at += 18;
        } else {
            Put8(p, at, c.type);
            Put16(p, at + 5, i);
            Put16(p, at + 7, c.varIndex);
            Put16(p, at + 9, i);
            Put16(p, at + 11, 0x409);
            Put8(p, at + 15, flags);
            Put16(p, at + 21, c.fixedOffset);
            Put16(p, at + 23, c.length);
            at += 25;
        }
    }
    for (const Layout& c : def.columns) {
        const std::string name = EncodeName(f, c.name);
        p.replace(at, name.size(), name);
        at += name.size();
    }
    Put16(p, at, 0xFFFF);  // end of the (empty) list of variable-column usage maps
    at += 2;
    Put32(p, 8, static_cast<uint32_t>(at - 8));
    if (!f.jet3) Put16(p, 2, static_cast<uint32_t>(f.page - at - 8));
    return p;  // longer than a page when the definition does not fit one
}

using LvalStore = std::function<uint32_t(const std::string& data)>;

// One row in the row format of the file. Long memos are stored through lval, which gives the
// row pointer of their first piece.
bool EncodeRow(const Format& f, const TableDef& def, const std::vector<JetValue>& values,
               size_t inlineMemo, const LvalStore& lval, std::string& row, std::string& error) {
    const size_t ncols = def.columns.size();
    if (values.size() != ncols) {
        error = def.name + ": a row has " + std::to_string(values.size()) + " values for " +
                std::to_string(ncols) + " columns";
        return false;
    }
    std::string fixedArea;
    std::vector<std::string> var(def.varCount);
    std::vector<bool> present(def.varCount, false);
    std::string mask((ncols + 7) / 8, '\0');
    for (size_t i = 0; i < ncols; ++i) {
        const Layout& c = def.columns[i];
        const JetValue& v = values[i];
        bool notNull = v.has_value();
        if (c.fixed) {
            const int size = FixedSize(c.type);
            std::string bytes(static_cast<size_t>(size), '\0');
            if (v) {
                const double d = std::strtod(v->c_str(), nullptr);
                const long long n = std::strtoll(v->c_str(), nullptr, 10);
                switch (c.type) {
                    case 0x01: notNull = d != 0; break;
                    case 0x02: Put8(bytes, 0, static_cast<uint32_t>(n)); break;
                    case 0x03: Put16(bytes, 0, static_cast<uint32_t>(n)); break;
                    case 0x04: Put32(bytes, 0, static_cast<uint32_t>(n)); break;
                    case 0x05: {
                        const long long money = std::llround(d * 10000);
                        Put32(bytes, 0, static_cast<uint32_t>(money));
                        Put32(bytes, 4, static_cast<uint32_t>(money >> 32));
                        break;
                    }
                    case 0x06: {
                        const float s = static_cast<float>(d);
                        bytes.assign(reinterpret_cast<const char*>(&s), 4);
                        break;
                    }
                    default: bytes.assign(reinterpret_cast<const char*>(&d), 8); break;
                }
            }
            if (fixedArea.size() < static_cast<size_t>(c.fixedOffset + size))
                fixedArea.resize(c.fixedOffset + size, '\0');
            fixedArea.replace(c.fixedOffset, size, bytes);
        } else if (v) {
            std::string data = EncodeText(f, *v);
            if (c.type == static_cast<int>(JetType::Memo)) {
                std::string head;
                if (data.size() <= inlineMemo) {
                    Append32(head, static_cast<uint32_t>(data.size()) | 0x80000000u);
                    Append32(head, 0);
                    Append32(head, 0);
                    data = head + data;
                } else {
                    Append32(head, static_cast<uint32_t>(data.size()));
                    Append32(head, lval(data));
                    Append32(head, 0);
                    data = head;
                }
            }
            var[c.varIndex] = data;
            present[c.varIndex] = true;
        }
        if (notNull) mask[i / 8] = static_cast<char>(mask[i / 8] | (1 << (i % 8)));
    }

    row.clear();
    if (f.jet3)
        Put8(row, 0, static_cast<uint32_t>(ncols));
    else
        Put16(row, 0, static_cast<uint32_t>(ncols));
    row += fixedArea;
    if (def.varCount > 0) {
        std::vector<uint32_t> offsets;
        for (int k = 0; k < def.varCount; ++k) {
            offsets.push_back(static_cast<uint32_t>(row.size()));
            row += var[k];
        }
        const uint32_t eod = static_cast<uint32_t>(row.size());
        if (f.jet3) {
            // One-byte offsets; the jump table names, for each 256 bytes that the offsets pass,
            // the first offset at or beyond it. Its size, (row length - 1) / 256, depends on
            // the row length, which includes it; an entry not needed is the dummy 0xFF.
            offsets.push_back(eod);
            const size_t base = row.size() + offsets.size() + 1 + mask.size();
            size_t jumps = 0;
            while ((base + jumps - 1) / 256 != jumps) jumps = (base + jumps - 1) / 256;
            const size_t levels = eod / 256;
            if (levels > jumps || jumps - levels > 1) {
                error = def.name + ": a Jet 3 row this long cannot be laid out";
                return false;
            }
            for (size_t k = offsets.size(); k-- > 0;) Put8(row, row.size(), offsets[k] & 0xFF);
            if (jumps > levels) Put8(row, row.size(), 0xFF);
            for (size_t level = levels; level >= 1; --level) {
                size_t first = 0;
                while (offsets[first] < level * 256) ++first;
                Put8(row, row.size(), static_cast<uint32_t>(first));
            }
            Put8(row, row.size(), def.varCount);
        } else {
            Append16(row, eod);
            for (int k = def.varCount - 1; k >= 0; --k) Append16(row, offsets[k]);
            Append16(row, def.varCount);
        }
    }
    row += mask;
    if (row.size() > RowPacker::MaxRow(f)) {
        error = def.name + ": a row of " + std::to_string(row.size()) + " bytes fits no page";
        return false;
    }
    return true;
}

// A usage map of type 0: the first page and a bitmap of the pages from there.
std::string UsageMap(const std::vector<uint32_t>& pages) {
    std::string map(1, '\0');
    if (pages.empty()) {
        Append32(map, 0);
        map += '\0';
        return map;
    }
    const uint32_t first = pages.front();
    const uint32_t last = pages.back();
    Append32(map, first);
    std::string bits((last - first) / 8 + 1, '\0');
    for (uint32_t pg : pages)
        bits[(pg - first) / 8] = static_cast<char>(bits[(pg - first) / 8] | (1 << ((pg - first) % 8)));
    return map + bits;
}

// Page 0: the format, and the header block masked with the fixed RC4 key stream.
std::string HeaderPage(const Format& f) {
    std::string p(f.page, '\0');
    Put32(p, 0, 0x100);
    p.replace(4, 15, "Standard Jet DB");
    Put32(p, 0x14, f.jet3 ? 0 : 1);
    if (f.jet3) {
        Put16(p, 0x3A, 0x411);  // sort order: Japanese
    } else {
        Put16(p, 0x6E, 0x411);
    }
    Put16(p, 0x3C, 932);  // code page of Jet 3 text
    // RC4 with the 4-byte key 0x6b39dac7 (little-endian).
    unsigned char s[256];
    for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
    const unsigned char key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % 4]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    const size_t n = f.jet3 ? 126 : 128;
    for (size_t k = 0, i = 0, j = 0; k < n; ++k) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        p[0x18 + k] = static_cast<char>(p[0x18 + k] ^ s[(s[i] + s[j]) & 0xFF]);
    }
    return p;
}

}  // namespace

std::string Sjis(const std::string& utf8) { return Iconv(utf8, "CP932", "UTF-8"); }

bool WriteJetFile(const std::string& path, const std::vector<JetTable>& tables,
                  const JetOptions& options, std::string& error) {
    const Format& f = options.version == 3 ? kJet3 : kJet4;
    PageFile file(f);
    file.Add();                        // 0: header
    const uint32_t mapPage = file.Add();  // 1: the usage maps
    const uint32_t catalogPage = file.Add();  // 2: the catalog's definition

    std::vector<TableDef> defs;
    std::vector<uint32_t> defPages;
    for (const JetTable& t : tables) {
        defs.push_back(LayOut(t.name, t.columns, f.jet3));
        defPages.push_back(file.Add());
    }

    RowPacker lvalPacker(file, f, 0, true);
    const size_t chunk = RowPacker::MaxRow(f) - 4 - 16;
    const LvalStore storeLval = [&](const std::string& data) {
        // The pieces are chained from the last one back, so that each knows its successor.
        std::vector<std::string> pieces;
        for (size_t at = 0; at < data.size(); at += chunk) pieces.push_back(data.substr(at, chunk));
        uint32_t next = 0;
        for (size_t k = pieces.size(); k-- > 0;) {
            std::string row;
            Append32(row, next);
            row += pieces[k];
            next = lvalPacker.Add(row);
        }
        return next;
    };
    const LvalStore none = [](const std::string&) { return 0u; };

    // The user tables' rows.
    std::vector<std::vector<uint32_t>> dataPages;
    for (size_t t = 0; t < tables.size(); ++t) {
        RowPacker packer(file, f, defPages[t]);
        for (const auto& values : tables[t].rows) {
            std::string row;
            if (!EncodeRow(f, defs[t], values, options.inlineMemo, storeLval, row, error))
                return false;
            packer.Add(row);
        }
        dataPages.push_back(packer.pages());
    }

    // The catalog: one row per user table.
    TableDef catalog = LayOut("MSysObjects",
                              {{"Id", JetType::Long},
                               {"Name", JetType::Text, 128},
                               {"Type", JetType::Int},
                               {"Flags", JetType::Long}},
                              f.jet3);
    catalog.system = true;
    {
        Layout lv;
        lv.name = "LvProp";
        lv.type = kOleType;
        lv.varIndex = catalog.varCount++;
        catalog.columns.push_back(lv);
    }
    RowPacker catalogPacker(file, f, catalogPage);
    for (size_t t = 0; t < tables.size(); ++t) {
        std::string row;
        if (!EncodeRow(f, catalog,
                       {std::to_string(defPages[t]), tables[t].name, "1", "0", std::nullopt},
                       0, none, row, error))
            return false;
        catalogPacker.Add(row);
    }

    // The usage maps, on page 1 (and more pages when they do not fit).
    RowPacker mapPacker(file, f, 0);
    mapPacker.UsePage(mapPage);
    const uint32_t catalogMap = mapPacker.Add(UsageMap(catalogPacker.pages()));
    file[catalogPage] =
        DefinitionPage(f, catalog, static_cast<uint32_t>(tables.size()), catalogMap);
    for (size_t t = 0; t < tables.size(); ++t) {
        const std::string map = UsageMap(dataPages[t]);
        if (map.size() > RowPacker::MaxRow(f)) {
            error = tables[t].name + ": too many data pages for one usage map";
            return false;
        }
        const uint32_t mapRow = mapPacker.Add(map);
        file[defPages[t]] = DefinitionPage(f, defs[t],
                                           static_cast<uint32_t>(tables[t].rows.size()), mapRow);
        if (file[defPages[t]].size() > f.page) {
            error = tables[t].name + ": the table definition does not fit one page";
            return false;
        }
    }

    file[0] = HeaderPage(f);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::string bytes = file.Bytes();
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}
