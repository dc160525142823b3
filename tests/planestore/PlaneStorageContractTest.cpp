// The contract every plane encoding keeps, run against all three; the
// encodings' own test files pin their byte layouts and malformed regions.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <climits>

#include "PlaneBytes.h"
#include "framework/CStringArray.h"
#include "framework/Exceptions.h"
#include "planestore/BtreePacked.h"
#include "planestore/BtreePackedSpeed.h"
#include "planestore/BtreeUnPacked.h"
#include "support/ThrownPtr.h"

using namespace planetest;

namespace {

template <typename Encoding>
class PlaneStorageContract : public ::testing::Test {};

using Encodings =
    ::testing::Types<BtreeUnPacked, BtreePacked, BtreePackedSpeed>;
TYPED_TEST_SUITE(PlaneStorageContract, Encodings);

}  // namespace

// Any plane, built from runs that cross line ends freely and cut into lines,
// written line by line over a stored plane of one byte value and committed
// behind a header, reads back at once and through a new object. Line numbers
// outside the plane transfer nothing. A whole-plane write of the same lines
// stores the very same bytes: its strings may leave out trailing zero bytes
// or run past the line (cut), one string more is ignored, and one string too
// few throws before anything is written.
TYPED_TEST(PlaneStorageContract, AnyPlaneRoundTripsThroughTheMemoryFile) {
  using Runs = std::vector<std::pair<unsigned char, unsigned short>>;
  EXPECT_TRUE(rc::check([](const Runs& runs) {
    const int width = *rc::gen::inRange(0, 400);
    const int count = *rc::gen::inRange(0, 40);
    Bytes all;
    for (const auto& [value, length] : runs)
      all.insert(all.end(), length % 8 == 0 ? length % 700 : 1, value);
    all.resize(static_cast<std::size_t>(width * count), 0);
    const Bytes header = {'h', 'e', 'a', 'd'};
    CMemFile file, other;
    file.Write(header.data(), 4);
    other.Write(header.data(), 4);
    TypeParam plane(&file, 4, width, count), whole(&other, 4, width, count);
    for (int i = 0; i < count; ++i)
      RC_ASSERT(writeLine(plane, i, Bytes(Bytes::size_type(width), 0x5A)) == 1);
    RC_ASSERT(plane.commit() == 1);
    CStringArray strings;
    for (int i = 0; i < count; ++i) {
      Bytes line(all.begin() + i * width, all.begin() + (i + 1) * width);
      RC_ASSERT(plane.writeAt(i, line.data()) == 1);
      RC_ASSERT(readLine(plane, i, line.size()) == line);
      std::size_t zeros = 0;
      while (zeros < line.size() && line[line.size() - 1 - zeros] == 0) ++zeros;
      const auto left = *rc::gen::inRange<std::size_t>(0, zeros + 1);
      line.resize(line.size() - left);
      if (left == 0) line.insert(line.end(), *rc::gen::inRange(0, 3), 'x');
      if (i == count - 1) {
        RC_ASSERT(testfiles::throwsPtr<CInvalidArgException>(
            [&] { whole.writeAllDati(strings); }));
        RC_ASSERT(wholeFile(other) == header);
      }
      strings.Add(CString(reinterpret_cast<const char*>(line.data()),
                          static_cast<int>(line.size())));
    }
    strings.Add("one string more than the plane has lines is ignored");
    for (int bad : {-1, count, INT_MIN, INT_MAX}) {
      int status = 1;
      RC_ASSERT(readLine(plane, bad, width, 0x33, &status) ==
                Bytes(Bytes::size_type(width), 0x33));
      RC_ASSERT(status == 0);
      RC_ASSERT(writeLine(plane, bad, Bytes(Bytes::size_type(width), 1)) == 0);
    }
    RC_ASSERT(plane.commit() == 1);
    RC_ASSERT(whole.writeAllDati(strings) == 1);
    RC_ASSERT(whole.commit() == 1);
    RC_ASSERT(wholeFile(other) == wholeFile(file));
    RC_ASSERT(fileBytes(file, 0, 4) == header);
    TypeParam reopened(&file, 4, width, count);
    for (int i = 0; i < count; ++i) {
      RC_ASSERT(readLine(reopened, i, width) ==
                Bytes(all.begin() + i * width, all.begin() + (i + 1) * width));
    }
  }));
}
