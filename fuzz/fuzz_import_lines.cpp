// The import's reading of a file: line splitting, the per-line choice of
// UTF-8 or Windows-1252, the column checks and the conversion of a usable
// line into the product that would be written.  The first byte picks the
// code size; the rest is the file.
#include "ProductImport.h"
#include "FuzzRequire.h"

#include <QBuffer>

#include <QList>

#include <cstdint>

using torvane::fuzz::require;
using namespace torvane::manager;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const int codeSize = 4 + data[0] % 3;
    QBuffer buffer;
    buffer.setData(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    buffer.open(QIODevice::ReadOnly);
    ImportLineReader reader(&buffer);
    QString head;
    qint64 length = 0;
    qint64 lines = 0;
    while (reader.next(&head, &length)) {
        ++lines;
        const qsizetype chars = head.toUcs4().size();
        // The head holds the first characters of the line, never more.
        require(chars <= ImportLineReader::kHeadChars && chars <= length);
        require(chars == ImportLineReader::kHeadChars || chars == length);
        ImportFields fields;
        if (checkImportLine(head, length, &fields) != LineCheck::Usable)
            continue;
        require(fields.code6.toUcs4().size() == 6 && fields.price.toUcs4().size() == 6);
        require(fields.description.toUcs4().size() <= 22);
        require(fields.shelfLife.isNull() || length == 39);
        try {
            const ImportedProduct p = makeImportedProduct(fields, codeSize);
            require(p.code.size() == codeSize);
            require(p.sellFlag == 1 || p.sellFlag == 2);
        } catch (const ImportFailure &) {
            // A text that passes the number check but is not an integer ends
            // the import: expected.
        }
    }
    require(reader.error().isEmpty());
    require(lines <= qint64(size));
    return 0;
}
