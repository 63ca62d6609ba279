// The two blobs compressed into the program at build time (see tools/blobgen).
#pragma once

#include <cstddef>
#include <cstdint>

extern const uint8_t kInterfaceBlob[];
extern const size_t kInterfaceBlobCompressed;
extern const size_t kInterfaceBlobSize;

extern const uint8_t kIconBlob[];
extern const size_t kIconBlobCompressed;
extern const size_t kIconBlobSize;
