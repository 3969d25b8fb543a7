// rpm query text through the product table into the product-map text.
#include <cstddef>
#include <cstdint>

#include "FuzzSupport.h"
#include "RpmChecker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The listing reaches the library through C strings, so it never holds a NUL.
  std::string listing(reinterpret_cast<const char*>(data), size);
  listing = listing.substr(0, listing.find('\0'));
  std::string text;
  const bool listed = RpmChecker::ParseListing(listing, text);
  RequireListingAnswer(listed, text);
  return 0;
}
