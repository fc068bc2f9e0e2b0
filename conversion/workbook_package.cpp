// The result workbook's package: fixed parts and a zip container written by hand, the sheet
// deflated as it streams. The sheet part starts with a stored (uncompressed) deflate block of
// a fixed length holding the XML up to <sheetData>, so that its <dimension>, known only at the
// end, can be written in place; the rows follow as an ordinary raw deflate stream.
#include "conversion/workbook_package.h"

#include <cstdio>
#include <cstring>

#include <zlib.h>

namespace dormal::detail {

namespace {

// The fixed parts, as the workbook library this writer replaced wrote them.
constexpr std::string_view kContentTypes = R"xml(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/docProps/app.xml" ContentType="application/vnd.openxmlformats-officedocument.extended-properties+xml"/><Override PartName="/docProps/core.xml" ContentType="application/vnd.openxmlformats-package.core-properties+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/><Override PartName="/xl/theme/theme1.xml" ContentType="application/vnd.openxmlformats-officedocument.theme+xml"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/></Types>)xml";

constexpr std::string_view kRootRels = R"xml(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties" Target="docProps/core.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/extended-properties" Target="docProps/app.xml"/></Relationships>)xml";

constexpr std::string_view kAppProps = R"xml(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Properties xmlns="http://schemas.openxmlformats.org/officeDocument/2006/extended-properties" xmlns:vt="http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes"><Application>Microsoft Excel</Application><DocSecurity>0</DocSecurity><ScaleCrop>false</ScaleCrop><HeadingPairs><vt:vector size="2" baseType="variant"><vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant><vt:variant><vt:i4>1</vt:i4></vt:variant></vt:vector></HeadingPairs><TitlesOfParts><vt:vector size="1" baseType="lpstr"><vt:lpstr>Sheet1</vt:lpstr></vt:vector></TitlesOfParts><Company></Company><LinksUpToDate>false</LinksUpToDate><SharedDoc>false</SharedDoc><HyperlinksChanged>false</HyperlinksChanged><AppVersion>12.0000</AppVersion></Properties>)xml";

constexpr std::string_view kWorkbook = R"xml(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><fileVersion appName="xl" lastEdited="4" lowestEdited="4" rupBuild="4505"/><workbookPr defaultThemeVersion="124226"/><bookViews><workbookView xWindow="240" yWindow="15" windowWidth="16095" windowHeight="9660"/></bookViews><sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets><calcPr calcId="124519" fullCalcOnLoad="1"/></workbook>)xml";

constexpr std::string_view kWorkbookRels = R"xml(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme" Target="theme/theme1.xml"/><Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)xml";

constexpr std::string_view kStyles = R"xml(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><fonts count="1"><font><sz val="11"/><color theme="1"/><name val="Calibri"/><family val="2"/><scheme val="minor"/></font></fonts><fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills><borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders><cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs><cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/></cellXfs><cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles><dxfs count="0"/><tableStyles count="0" defaultTableStyle="TableStyleMedium9" defaultPivotStyle="PivotStyleLight16"/></styleSheet>)xml";

constexpr std::string_view kTheme = R"xml(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<a:theme xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" name="Office Theme"><a:themeElements><a:clrScheme name="Office"><a:dk1><a:sysClr val="windowText" lastClr="000000"/></a:dk1><a:lt1><a:sysClr val="window" lastClr="FFFFFF"/></a:lt1><a:dk2><a:srgbClr val="1F497D"/></a:dk2><a:lt2><a:srgbClr val="EEECE1"/></a:lt2><a:accent1><a:srgbClr val="4F81BD"/></a:accent1><a:accent2><a:srgbClr val="C0504D"/></a:accent2><a:accent3><a:srgbClr val="9BBB59"/></a:accent3><a:accent4><a:srgbClr val="8064A2"/></a:accent4><a:accent5><a:srgbClr val="4BACC6"/></a:accent5><a:accent6><a:srgbClr val="F79646"/></a:accent6><a:hlink><a:srgbClr val="0000FF"/></a:hlink><a:folHlink><a:srgbClr val="800080"/></a:folHlink></a:clrScheme><a:fontScheme name="Office"><a:majorFont><a:latin typeface="Cambria"/><a:ea typeface=""/><a:cs typeface=""/><a:font script="Jpan" typeface="ＭＳ Ｐゴシック"/><a:font script="Hang" typeface="맑은 고딕"/><a:font script="Hans" typeface="宋体"/><a:font script="Hant" typeface="新細明體"/><a:font script="Arab" typeface="Times New Roman"/><a:font script="Hebr" typeface="Times New Roman"/><a:font script="Thai" typeface="Tahoma"/><a:font script="Ethi" typeface="Nyala"/><a:font script="Beng" typeface="Vrinda"/><a:font script="Gujr" typeface="Shruti"/><a:font script="Khmr" typeface="MoolBoran"/><a:font script="Knda" typeface="Tunga"/><a:font script="Guru" typeface="Raavi"/><a:font script="Cans" typeface="Euphemia"/><a:font script="Cher" typeface="Plantagenet Cherokee"/><a:font script="Yiii" typeface="Microsoft Yi Baiti"/><a:font script="Tibt" typeface="Microsoft Himalaya"/><a:font script="Thaa" typeface="MV Boli"/><a:font script="Deva" typeface="Mangal"/><a:font script="Telu" typeface="Gautami"/><a:font script="Taml" typeface="Latha"/><a:font script="Syrc" typeface="Estrangelo Edessa"/><a:font script="Orya" typeface="Kalinga"/><a:font script="Mlym" typeface="Kartika"/><a:font script="Laoo" typeface="DokChampa"/><a:font script="Sinh" typeface="Iskoola Pota"/><a:font script="Mong" typeface="Mongolian Baiti"/><a:font script="Viet" typeface="Times New Roman"/><a:font script="Uigh" typeface="Microsoft Uighur"/></a:majorFont><a:minorFont><a:latin typeface="Calibri"/><a:ea typeface=""/><a:cs typeface=""/><a:font script="Jpan" typeface="ＭＳ Ｐゴシック"/><a:font script="Hang" typeface="맑은 고딕"/><a:font script="Hans" typeface="宋体"/><a:font script="Hant" typeface="新細明體"/><a:font script="Arab" typeface="Arial"/><a:font script="Hebr" typeface="Arial"/><a:font script="Thai" typeface="Tahoma"/><a:font script="Ethi" typeface="Nyala"/><a:font script="Beng" typeface="Vrinda"/><a:font script="Gujr" typeface="Shruti"/><a:font script="Khmr" typeface="DaunPenh"/><a:font script="Knda" typeface="Tunga"/><a:font script="Guru" typeface="Raavi"/><a:font script="Cans" typeface="Euphemia"/><a:font script="Cher" typeface="Plantagenet Cherokee"/><a:font script="Yiii" typeface="Microsoft Yi Baiti"/><a:font script="Tibt" typeface="Microsoft Himalaya"/><a:font script="Thaa" typeface="MV Boli"/><a:font script="Deva" typeface="Mangal"/><a:font script="Telu" typeface="Gautami"/><a:font script="Taml" typeface="Latha"/><a:font script="Syrc" typeface="Estrangelo Edessa"/><a:font script="Orya" typeface="Kalinga"/><a:font script="Mlym" typeface="Kartika"/><a:font script="Laoo" typeface="DokChampa"/><a:font script="Sinh" typeface="Iskoola Pota"/><a:font script="Mong" typeface="Mongolian Baiti"/><a:font script="Viet" typeface="Arial"/><a:font script="Uigh" typeface="Microsoft Uighur"/></a:minorFont></a:fontScheme><a:fmtScheme name="Office"><a:fillStyleLst><a:solidFill><a:schemeClr val="phClr"/></a:solidFill><a:gradFill rotWithShape="1"><a:gsLst><a:gs pos="0"><a:schemeClr val="phClr"><a:tint val="50000"/><a:satMod val="300000"/></a:schemeClr></a:gs><a:gs pos="35000"><a:schemeClr val="phClr"><a:tint val="37000"/><a:satMod val="300000"/></a:schemeClr></a:gs><a:gs pos="100000"><a:schemeClr val="phClr"><a:tint val="15000"/><a:satMod val="350000"/></a:schemeClr></a:gs></a:gsLst><a:lin ang="16200000" scaled="1"/></a:gradFill><a:gradFill rotWithShape="1"><a:gsLst><a:gs pos="0"><a:schemeClr val="phClr"><a:shade val="51000"/><a:satMod val="130000"/></a:schemeClr></a:gs><a:gs pos="80000"><a:schemeClr val="phClr"><a:shade val="93000"/><a:satMod val="130000"/></a:schemeClr></a:gs><a:gs pos="100000"><a:schemeClr val="phClr"><a:shade val="94000"/><a:satMod val="135000"/></a:schemeClr></a:gs></a:gsLst><a:lin ang="16200000" scaled="0"/></a:gradFill></a:fillStyleLst><a:lnStyleLst><a:ln w="9525" cap="flat" cmpd="sng" algn="ctr"><a:solidFill><a:schemeClr val="phClr"><a:shade val="95000"/><a:satMod val="105000"/></a:schemeClr></a:solidFill><a:prstDash val="solid"/></a:ln><a:ln w="25400" cap="flat" cmpd="sng" algn="ctr"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill><a:prstDash val="solid"/></a:ln><a:ln w="38100" cap="flat" cmpd="sng" algn="ctr"><a:solidFill><a:schemeClr val="phClr"/></a:solidFill><a:prstDash val="solid"/></a:ln></a:lnStyleLst><a:effectStyleLst><a:effectStyle><a:effectLst><a:outerShdw blurRad="40000" dist="20000" dir="5400000" rotWithShape="0"><a:srgbClr val="000000"><a:alpha val="38000"/></a:srgbClr></a:outerShdw></a:effectLst></a:effectStyle><a:effectStyle><a:effectLst><a:outerShdw blurRad="40000" dist="23000" dir="5400000" rotWithShape="0"><a:srgbClr val="000000"><a:alpha val="35000"/></a:srgbClr></a:outerShdw></a:effectLst></a:effectStyle><a:effectStyle><a:effectLst><a:outerShdw blurRad="40000" dist="23000" dir="5400000" rotWithShape="0"><a:srgbClr val="000000"><a:alpha val="35000"/></a:srgbClr></a:outerShdw></a:effectLst><a:scene3d><a:camera prst="orthographicFront"><a:rot lat="0" lon="0" rev="0"/></a:camera><a:lightRig rig="threePt" dir="t"><a:rot lat="0" lon="0" rev="1200000"/></a:lightRig></a:scene3d><a:sp3d><a:bevelT w="63500" h="25400"/></a:sp3d></a:effectStyle></a:effectStyleLst><a:bgFillStyleLst><a:solidFill><a:schemeClr val="phClr"/></a:solidFill><a:gradFill rotWithShape="1"><a:gsLst><a:gs pos="0"><a:schemeClr val="phClr"><a:tint val="40000"/><a:satMod val="350000"/></a:schemeClr></a:gs><a:gs pos="40000"><a:schemeClr val="phClr"><a:tint val="45000"/><a:shade val="99000"/><a:satMod val="350000"/></a:schemeClr></a:gs><a:gs pos="100000"><a:schemeClr val="phClr"><a:shade val="20000"/><a:satMod val="255000"/></a:schemeClr></a:gs></a:gsLst><a:path path="circle"><a:fillToRect l="50000" t="-80000" r="50000" b="180000"/></a:path></a:gradFill><a:gradFill rotWithShape="1"><a:gsLst><a:gs pos="0"><a:schemeClr val="phClr"><a:tint val="80000"/><a:satMod val="300000"/></a:schemeClr></a:gs><a:gs pos="100000"><a:schemeClr val="phClr"><a:shade val="30000"/><a:satMod val="200000"/></a:schemeClr></a:gs></a:gsLst><a:path path="circle"><a:fillToRect l="50000" t="50000" r="50000" b="50000"/></a:path></a:gradFill></a:bgFillStyleLst></a:fmtScheme></a:themeElements><a:objectDefaults/><a:extraClrSchemeLst/></a:theme>
)xml";


constexpr std::string_view kSheetName = "xl/worksheets/sheet1.xml";
constexpr std::string_view kSheetStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
    "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><dimension ref=\"";
constexpr std::string_view kSheetAfterDimension =
    "<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"/></sheetViews>"
    "<sheetFormatPr defaultRowHeight=\"15\"/><sheetData>";

// Zip fields: MS-DOS date 1980-01-01 00:00 (as the parts were always dated), version 2.0.
constexpr std::uint16_t kDosDate = (1 << 5) | 1;
constexpr std::uint16_t kVersion = 20;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint64_t kZip32Limit = 0xFFFFFFFFu;

void le16(std::string& s, std::uint16_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>(v >> 8);
}
void le32(std::string& s, std::uint64_t v) {
    for (int i = 0; i < 4; ++i)
        s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

z_stream* zs(void* p) {
    return static_cast<z_stream*>(p);
}

std::string coreProperties(const std::tm& t) {
    char when[96];
    std::snprintf(when, sizeof when, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    std::string s =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:dcterms=\"http://purl.org/dc/terms/\" "
        "xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
        "<dc:creator></dc:creator><cp:lastModifiedBy></cp:lastModifiedBy><dcterms:created xsi:type=\"dcterms:W3CDTF\">";
    s += when;
    s += "</dcterms:created><dcterms:modified xsi:type=\"dcterms:W3CDTF\">";
    s += when;
    s += "</dcterms:modified></cp:coreProperties>";
    return s;
}

} // namespace

SheetPackage::SheetPackage(PackageFile& out, int level) : out_(out), level_(level), outBuf_(256 * 1024) {}

SheetPackage::~SheetPackage() {
    if (stream_) {
        deflateEnd(zs(stream_));
        delete zs(stream_);
    }
}

void SheetPackage::put(const char* p, std::size_t n) {
    out_.write(p, n);
    offset_ += n;
}

void SheetPackage::localHeader(const Entry& e) {
    std::string h;
    le32(h, 0x04034b50);
    le16(h, kVersion);
    le16(h, 0); // flags
    le16(h, kDeflated);
    le16(h, 0); // time
    le16(h, kDosDate);
    le32(h, e.crc);
    le32(h, e.compressed);
    le32(h, e.size);
    le16(h, static_cast<std::uint16_t>(e.name.size()));
    le16(h, 0); // extra field
    h += e.name;
    put(h.data(), h.size());
}

void SheetPackage::addWholePart(std::string_view name, std::string_view data) {
    uLongf bound = compressBound(static_cast<uLong>(data.size()));
    std::vector<unsigned char> packed(bound);
    z_stream z{};
    if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        out_.fail("memoria insufficiente per la compressione");
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = packed.data();
    z.avail_out = static_cast<uInt>(packed.size());
    const int rc = deflate(&z, Z_FINISH);
    const auto packedSize = static_cast<std::size_t>(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END)
        out_.fail("errore interno della compressione");
    Entry e;
    e.name = std::string(name);
    e.crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
    e.compressed = packedSize;
    e.size = data.size();
    e.offset = offset_;
    localHeader(e);
    put(reinterpret_cast<const char*>(packed.data()), packedSize);
    entries_.push_back(std::move(e));
}

std::string SheetPackage::sheetPrefix(std::string_view dimension) const {
    std::string s(kSheetStart);
    s += dimension;
    s += '"';
    // Blanks inside the tag keep the prefix the same length whatever the dimension.
    s.append(kMaxDimension - dimension.size() + 1, ' ');
    s += "/>";
    s += kSheetAfterDimension;
    return s;
}

void SheetPackage::begin(const std::tm& created) {
    addWholePart("[Content_Types].xml", kContentTypes);
    addWholePart("_rels/.rels", kRootRels);
    addWholePart("docProps/app.xml", kAppProps);
    addWholePart("docProps/core.xml", coreProperties(created));
    addWholePart("xl/workbook.xml", kWorkbook);
    addWholePart("xl/_rels/workbook.xml.rels", kWorkbookRels);
    addWholePart("xl/styles.xml", kStyles);
    addWholePart("xl/theme/theme1.xml", kTheme);

    // The sheet: its header is written again with the sizes and CRC by finish().
    Entry e;
    e.name = std::string(kSheetName);
    e.offset = offset_;
    localHeader(e);
    entries_.push_back(std::move(e));
    // The stored block: BFINAL 0, BTYPE 00 in a byte of its own, then LEN and its complement.
    const std::string prefix = sheetPrefix("A1");
    prefixAt_ = offset_;
    std::string block(5, '\0');
    block += prefix;
    put(block.data(), block.size());

    auto* z = new z_stream{};
    if (deflateInit2(z, level_, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        delete z;
        out_.fail("memoria insufficiente per la compressione");
    }
    stream_ = z;
    begun_ = true;
}

void SheetPackage::deflateSheet(const char* p, std::size_t n, int flush) {
    z_stream* z = zs(stream_);
    z->next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p));
    z->avail_in = static_cast<uInt>(n);
    for (;;) {
        z->next_out = reinterpret_cast<Bytef*>(outBuf_.data());
        z->avail_out = static_cast<uInt>(outBuf_.size());
        const int rc = deflate(z, flush);
        if (rc == Z_STREAM_ERROR)
            out_.fail("errore interno della compressione");
        const std::size_t made = outBuf_.size() - z->avail_out;
        if (made > 0) {
            put(outBuf_.data(), made);
            sheetDeflated_ += made;
        }
        if (flush == Z_FINISH ? rc == Z_STREAM_END : (z->avail_in == 0 && z->avail_out != 0))
            break;
    }
}

void SheetPackage::sheetBytes(const char* p, std::size_t n) {
    while (n > 0) {
        // zlib counts in 32-bit units.
        const std::size_t part = n < (1u << 30) ? n : (1u << 30);
        sheetCrc_ = static_cast<std::uint32_t>(crc32(sheetCrc_, reinterpret_cast<const Bytef*>(p), static_cast<uInt>(part)));
        sheetBodySize_ += part;
        deflateSheet(p, part, Z_NO_FLUSH);
        p += part;
        n -= part;
    }
}

void SheetPackage::finish(std::string_view dimension) {
    if (!begun_ || dimension.size() > kMaxDimension)
        out_.fail("errore interno della scrittura della cartella di lavoro");
    deflateSheet(nullptr, 0, Z_FINISH);

    const std::string prefix = sheetPrefix(dimension);
    std::string block;
    block += '\0';
    le16(block, static_cast<std::uint16_t>(prefix.size()));
    le16(block, static_cast<std::uint16_t>(~prefix.size() & 0xFFFF));
    block += prefix;
    out_.writeAt(prefixAt_, block.data(), block.size());

    Entry& sheet = entries_.back();
    const auto prefixCrc = crc32(0, reinterpret_cast<const Bytef*>(prefix.data()), static_cast<uInt>(prefix.size()));
    sheet.crc = static_cast<std::uint32_t>(
        crc32_combine(prefixCrc, sheetCrc_, static_cast<z_off_t>(sheetBodySize_)));
    sheet.size = prefix.size() + sheetBodySize_;
    sheet.compressed = block.size() + sheetDeflated_;
    if (sheet.size > kZip32Limit || offset_ > kZip32Limit)
        out_.fail("cartella di lavoro troppo grande (oltre 4 GB)");
    // CRC and sizes sit 14 bytes into the local header.
    std::string sizes;
    le32(sizes, sheet.crc);
    le32(sizes, sheet.compressed);
    le32(sizes, sheet.size);
    out_.writeAt(sheet.offset + 14, sizes.data(), sizes.size());

    std::string dir;
    for (const Entry& e : entries_) {
        le32(dir, 0x02014b50);
        le16(dir, kVersion); // made by: MS-DOS attributes
        le16(dir, kVersion);
        le16(dir, 0);
        le16(dir, kDeflated);
        le16(dir, 0);
        le16(dir, kDosDate);
        le32(dir, e.crc);
        le32(dir, e.compressed);
        le32(dir, e.size);
        le16(dir, static_cast<std::uint16_t>(e.name.size()));
        le16(dir, 0); // extra
        le16(dir, 0); // comment
        le16(dir, 0); // disk
        le16(dir, 0); // internal attributes
        le32(dir, 0); // external attributes
        le32(dir, e.offset);
        dir += e.name;
    }
    const std::uint64_t dirAt = offset_;
    const std::uint64_t dirSize = dir.size();
    le32(dir, 0x06054b50);
    le16(dir, 0);
    le16(dir, 0);
    le16(dir, static_cast<std::uint16_t>(entries_.size()));
    le16(dir, static_cast<std::uint16_t>(entries_.size()));
    le32(dir, dirSize);
    le32(dir, dirAt);
    le16(dir, 0); // comment
    put(dir.data(), dir.size());
}

} // namespace dormal::detail
