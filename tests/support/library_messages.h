// Every fixed message the library shows; "Cannot open file: %s." is the one
// formatted message besides these.
#ifndef BSBCHART_LIBRARY_MESSAGES_H
#define BSBCHART_LIBRARY_MESSAGES_H

namespace testsupport {

inline const char* const kLibraryMessages[] = {
    "Cannot allocate memory to save header section.",
    "Error reading header.",
    "real line size is bigger than you expected.",
    "Error reading one line image.",
    "Error reading the size of the image.",
    "Error reading skew angle of the image.",
    "Error reading CPH record.",
    "Error reading RGB records.",
    "Error reading geographic parameters.",
    "Compression type should be between 1 and 7!",
    "Error decoding the image line!",
    "Create a heap first please.",
    "Your requirement is beyond the scope of the image.",
    "Cannot allocate memory to save your required bmp.",
    "Cannot allocate memory for one line image",
};

}  // namespace testsupport

#endif
