#include "api/handle_fields.h"

#include <string.h>

namespace bsb {

struct FieldKey {
    const char* records[2];  // the record the field belongs to, and its other name
    const char* key;
};

static const FieldKey kFieldKeys[BSBCHART_FIELD_COUNT] = {
    {{"BSB/", "NOS/"}, "NA="}, {{"BSB/", "NOS/"}, "NU="}, {{"KNP/", 0}, "SC="},
    {{"KNP/", 0}, "GD="},      {{"KNP/", 0}, "PR="},      {{"KNP/", 0}, "PP="},
    {{"KNP/", 0}, "UN="},      {{"KNP/", 0}, "SD="},      {{"BSB/", "NOS/"}, "DU="},
    {{"CED/", 0}, "SE="},      {{"CED/", 0}, "ED="},      {{"CED/", 0}, "RE="},
};

// Where a field's value lies in the header text.
struct Span {
    uint32_t start;
    uint32_t length;
};

static bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

// The record runs from its key to the end of its line and of every following
// line that starts with a space (a continuation).
static Span RecordAt(HeaderText text, uint32_t at) {
    uint32_t end = at;
    for (;;) {
        while (end < text.length && !IsLineEnd(text.chars[end])) ++end;
        while (end < text.length && IsLineEnd(text.chars[end])) ++end;
        if (end >= text.length || text.chars[end] != ' ') break;
    }
    Span record = {at, end - at};
    return record;
}

static bool FindRecord(HeaderText text, const FieldKey& field, Span* record) {
    for (const char* name : field.records) {
        if (!name) continue;
        uint32_t at = FindKey(text, name, 0);
        if (at != kNotFound) {
            *record = RecordAt(text, at);
            return true;
        }
    }
    return false;
}

static bool StartsField(HeaderText text, uint32_t at) {
    char before = text.chars[at - 1];
    return before == '/' || before == ',' || before == ' ' || IsLineEnd(before);
}

static bool IsBlank(char c) { return c == ' ' || IsLineEnd(c); }

// The value after the field's key, up to the next ',' or line end, without
// the spaces around it; cut at kFieldCapacity - 1 characters.
static bool FindField(HeaderText text, const FieldKey& field, Span* value) {
    Span record;
    if (!FindRecord(text, field, &record)) return false;
    HeaderText inside = {text.chars, record.start + record.length};
    uint32_t keyLength = (uint32_t)strlen(field.key);
    for (uint32_t at = FindKey(inside, field.key, record.start + 4); at != kNotFound;
         at = FindKey(inside, field.key, at + 1)) {
        if (!StartsField(text, at)) continue;
        uint32_t start = at + keyLength;
        uint32_t end = start;
        while (end < inside.length && text.chars[end] != ',' && !IsLineEnd(text.chars[end])) ++end;
        while (start < end && IsBlank(text.chars[start])) ++start;
        while (end > start && IsBlank(text.chars[end - 1])) --end;
        uint32_t length = end - start;
        value->start = start;
        value->length = length < kFieldCapacity - 1 ? length : kFieldCapacity - 1;
        return true;
    }
    return false;
}

bool ReadHeaderFields(bsbchart* chart, Reporter* reporter) {
    HeaderText text = {chart->header.bytes, chart->header.textLength};
    Span spans[BSBCHART_FIELD_COUNT];
    bool present[BSBCHART_FIELD_COUNT];
    uint64_t total = 0;
    for (int i = 0; i < BSBCHART_FIELD_COUNT; ++i) {
        present[i] = FindField(text, kFieldKeys[i], &spans[i]);
        if (present[i]) total += spans[i].length + 1;
    }
    if (total == 0) return true;
    chart->fieldText = (char*)Allocate(chart->memory, total);
    if (!chart->fieldText) return Fail(reporter, kCannotAllocateHeader);
    char* out = chart->fieldText;
    for (int i = 0; i < BSBCHART_FIELD_COUNT; ++i) {
        if (!present[i]) continue;
        memcpy(out, text.chars + spans[i].start, spans[i].length);
        out[spans[i].length] = 0;
        chart->fields[i] = out;
        out += spans[i].length + 1;
    }
    return true;
}

}  // namespace bsb
