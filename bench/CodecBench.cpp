// The run-pair code against libtiff's PackBits on the same 4096 x 4096
// planes ("design", "photo", "noise").
//
// Decoding: every line of a packed plane (BtreePacked::lineAt into one line
// buffer) and a whole-plane packed plane decoded at construction
// (BtreePackedSpeed). Encoding: writeAt of every line (BtreePacked) and the
// whole-plane commit (BtreePackedSpeed::commit).
//
// The anchor drives PackBits through libtiff's public API on an in-memory
// TIFF (TIFFClientOpen over a byte buffer, strips of 64 rows), so that it
// measures the codec and not file input and output: reads map the buffer
// (no copy of the coded strips), writes append to a buffer reserved ahead.
// Decoding goes either into one strip buffer (the like of one line buffer)
// or into a whole plane buffer (the like of a decoded plane).
#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include "BenchData.h"
#include "framework/CMemFile.h"
#include "planestore/BtreePacked.h"
#include "planestore/BtreePackedSpeed.h"

namespace {

using bench::Kind;
using bench::kPlaneBytes;
using bench::kSide;

constexpr int kRowsPerStrip = 64;
constexpr int kStrips = kSide / kRowsPerStrip;
constexpr std::size_t kStripBytes = std::size_t{kSide} * kRowsPerStrip;

// ---- An in-memory TIFF ------------------------------------------------------

struct MemoryTiff {
  std::vector<unsigned char> bytes;  // capacity; `size` of them are the file
  std::size_t size = 0;
  std::size_t position = 0;
};

tsize_t tiffRead(thandle_t h, tdata_t data, tsize_t n) {
  auto* m = static_cast<MemoryTiff*>(h);
  if (m->position >= m->size) return 0;
  const std::size_t got =
      std::min(static_cast<std::size_t>(n), m->size - m->position);
  std::memcpy(data, m->bytes.data() + m->position, got);
  m->position += got;
  return static_cast<tsize_t>(got);
}

tsize_t tiffWrite(thandle_t h, tdata_t data, tsize_t n) {
  auto* m = static_cast<MemoryTiff*>(h);
  const std::size_t end = m->position + static_cast<std::size_t>(n);
  if (end > m->bytes.size()) m->bytes.resize(end * 2);
  std::memcpy(m->bytes.data() + m->position, data, static_cast<std::size_t>(n));
  m->position = end;
  m->size = std::max(m->size, end);
  return n;
}

toff_t tiffSeek(thandle_t h, toff_t offset, int whence) {
  auto* m = static_cast<MemoryTiff*>(h);
  std::size_t base = 0;
  if (whence == SEEK_CUR) base = m->position;
  if (whence == SEEK_END) base = m->size;
  m->position = base + static_cast<std::size_t>(offset);
  return m->position;
}

int tiffClose(thandle_t) { return 0; }

toff_t tiffSize(thandle_t h) { return static_cast<MemoryTiff*>(h)->size; }

int tiffMap(thandle_t h, tdata_t* base, toff_t* size) {
  auto* m = static_cast<MemoryTiff*>(h);
  *base = m->bytes.data();
  *size = m->size;
  return 1;
}

void tiffUnmap(thandle_t, tdata_t, toff_t) {}

TIFF* openTiff(MemoryTiff& m, const char* mode) {
  m.position = 0;
  TIFF* tif = TIFFClientOpen("memory", mode, &m, tiffRead, tiffWrite, tiffSeek,
                             tiffClose, tiffSize, tiffMap, tiffUnmap);
  if (tif == nullptr) throw std::runtime_error("TIFFClientOpen failed");
  return tif;
}

// Opens `m` (emptied) for writing one 8-bit PackBits plane.
TIFF* openForWriting(MemoryTiff& m) {
  m.size = 0;
  TIFF* tif = openTiff(m, "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kSide);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kSide);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_PACKBITS);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, kRowsPerStrip);
  return tif;
}

void writeStrips(TIFF* tif, const unsigned char* plane) {
  for (int s = 0; s < kStrips; ++s) {
    if (TIFFWriteEncodedStrip(tif, static_cast<tstrip_t>(s),
                              const_cast<unsigned char*>(plane) +
                                  kStripBytes * static_cast<std::size_t>(s),
                              static_cast<tmsize_t>(kStripBytes)) < 0) {
      throw std::runtime_error("TIFFWriteEncodedStrip failed");
    }
  }
}

// ---- The data of one kind of plane ----------------------------------------

struct Data {
  std::vector<unsigned char> plane;
  CMemFile packed{1024};  // a BtreePacked region at 0, every line written
  CMemFile speed{1024};   // a BtreePackedSpeed region at 0, committed
  MemoryTiff tiff;        // the plane as a PackBits TIFF

  explicit Data(Kind kind) : plane(bench::makePlane(kind)) {
    BtreePacked lines(&packed, 0, kSide, kSide);
    for (int y = 0; y < kSide; ++y) lines.writeAt(y, lineOf(y));
    BtreePackedSpeed whole(&speed, 0, kSide, kSide);
    for (int y = 0; y < kSide; ++y) whole.writeAt(y, lineOf(y));
    if (whole.commit() != 1) throw std::runtime_error("commit failed");
    tiff.bytes.resize(2 * kPlaneBytes);
    TIFF* tif = openForWriting(tiff);
    writeStrips(tif, plane.data());
    TIFFClose(tif);
  }
  unsigned char* lineOf(int y) {
    return plane.data() + std::size_t{kSide} * static_cast<std::size_t>(y);
  }
};

Data& data(Kind kind) {
  static std::map<Kind, std::unique_ptr<Data>> all;
  std::unique_ptr<Data>& d = all[kind];
  if (!d) d = std::make_unique<Data>(kind);
  return *d;
}

Kind kindOf(const benchmark::State& state) {
  return static_cast<Kind>(state.range(0));
}

void finish(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kPlaneBytes));
  state.SetLabel(bench::kindName(kindOf(state)));
}

void kinds(benchmark::internal::Benchmark* b) {
  b->ArgName("kind");
  for (Kind k : {Kind::kDesign, Kind::kPhoto, Kind::kNoise}) {
    b->Arg(static_cast<int>(k));
  }
}

// ---- Decoding ---------------------------------------------------------------

void BM_BtreePackedLineAt(benchmark::State& state) {
  Data& d = data(kindOf(state));
  BtreePacked lines(&d.packed, 0, kSide, kSide);
  std::vector<unsigned char> line(kSide);
  for (auto _ : state) {
    for (int y = 0; y < kSide; ++y) {
      lines.lineAt(y, line.data());
      benchmark::DoNotOptimize(line.data());
      benchmark::ClobberMemory();
    }
  }
  finish(state);
}
BENCHMARK(BM_BtreePackedLineAt)->Apply(kinds);

// Reference (no goal): the bytes a packed line read must take in, copied
// into one buffer of two lines' size without decoding them; for "noise",
// twice the plane (one pair per pixel), where PackBits reads the plane once.
void BM_ReadPackedPairs(benchmark::State& state) {
  Data& d = data(kindOf(state));
  d.packed.Seek(0, CFile::begin);
  void* at = nullptr;
  const std::size_t length = d.packed.GetBufferPtr(
      CFile::bufferRead, static_cast<UINT>(d.packed.GetLength()), &at);
  const auto* bytes = static_cast<const unsigned char*>(at);
  std::vector<unsigned char> buffer(2 * std::size_t{kSide});
  std::size_t chunk = buffer.size();
  benchmark::DoNotOptimize(chunk);
  for (auto _ : state) {
    for (std::size_t o = 0; o < length; o += chunk) {
      std::memcpy(buffer.data(), bytes + o, std::min(chunk, length - o));
      benchmark::ClobberMemory();
    }
  }
  finish(state);
}
BENCHMARK(BM_ReadPackedPairs)->Apply(kinds);

void BM_BtreePackedSpeedDecode(benchmark::State& state) {
  Data& d = data(kindOf(state));
  for (auto _ : state) {
    auto* whole = new BtreePackedSpeed(&d.speed, 0, kSide, kSide);
    benchmark::DoNotOptimize(whole);
    state.PauseTiming();
    delete whole;
    state.ResumeTiming();
  }
  finish(state);
}
BENCHMARK(BM_BtreePackedSpeedDecode)->Apply(kinds);

// Anchor: every strip decoded into one strip buffer.
void BM_TiffPackBitsDecode(benchmark::State& state) {
  Data& d = data(kindOf(state));
  TIFF* tif = openTiff(d.tiff, "r");
  std::vector<unsigned char> strip(kStripBytes);
  for (auto _ : state) {
    for (int s = 0; s < kStrips; ++s) {
      TIFFReadEncodedStrip(tif, static_cast<tstrip_t>(s), strip.data(),
                           static_cast<tmsize_t>(kStripBytes));
      benchmark::DoNotOptimize(strip.data());
      benchmark::ClobberMemory();
    }
  }
  TIFFClose(tif);
  finish(state);
}
BENCHMARK(BM_TiffPackBitsDecode)->Apply(kinds);

// Anchor: every strip decoded into its place in one plane buffer.
void BM_TiffPackBitsDecodePlane(benchmark::State& state) {
  Data& d = data(kindOf(state));
  TIFF* tif = openTiff(d.tiff, "r");
  std::vector<unsigned char> plane(kPlaneBytes);
  for (auto _ : state) {
    for (int s = 0; s < kStrips; ++s) {
      TIFFReadEncodedStrip(tif, static_cast<tstrip_t>(s),
                           plane.data() + kStripBytes * s,
                           static_cast<tmsize_t>(kStripBytes));
    }
    benchmark::DoNotOptimize(plane.data());
    benchmark::ClobberMemory();
  }
  TIFFClose(tif);
  finish(state);
}
BENCHMARK(BM_TiffPackBitsDecodePlane)->Apply(kinds);

// ---- Encoding ---------------------------------------------------------------

void BM_BtreePackedWriteAt(benchmark::State& state) {
  Data& d = data(kindOf(state));
  CMemFile file(1024);
  BtreePacked lines(&file, 0, kSide, kSide);
  for (auto _ : state) {
    for (int y = 0; y < kSide; ++y) lines.writeAt(y, d.lineOf(y));
    benchmark::ClobberMemory();
  }
  finish(state);
}
BENCHMARK(BM_BtreePackedWriteAt)->Apply(kinds);

void BM_BtreePackedSpeedCommit(benchmark::State& state) {
  Data& d = data(kindOf(state));
  CMemFile file(1024);
  BtreePackedSpeed whole(&file, 0, kSide, kSide);
  for (int y = 0; y < kSide; ++y) whole.writeAt(y, d.lineOf(y));
  for (auto _ : state) {
    if (whole.commit() != 1) state.SkipWithError("commit failed");
    benchmark::ClobberMemory();
  }
  finish(state);
}
BENCHMARK(BM_BtreePackedSpeedCommit)->Apply(kinds);

// Anchor: every strip encoded into a fresh in-memory TIFF (opening it and
// writing its directory are not timed).
void BM_TiffPackBitsEncode(benchmark::State& state) {
  Data& d = data(kindOf(state));
  MemoryTiff out;
  out.bytes.resize(2 * kPlaneBytes);
  for (auto _ : state) {
    state.PauseTiming();
    TIFF* tif = openForWriting(out);
    state.ResumeTiming();
    writeStrips(tif, d.plane.data());
    state.PauseTiming();
    TIFFClose(tif);
    state.ResumeTiming();
  }
  finish(state);
}
BENCHMARK(BM_TiffPackBitsEncode)->Apply(kinds);

}  // namespace

BENCHMARK_MAIN();
