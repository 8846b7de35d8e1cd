#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "cb_internal.h"
#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

using vqtest::NodeSpec;
using vqtest::ReadFileBytes;
using vqtest::TempDir;
using vqtest::WriteFileBytes;

// A random set of `count` vectors of 2 x 3 elements that fit `width` bytes,
// some named when `named`.
std::vector<NodeSpec> RandomNodes(std::mt19937& random, int count, int width, bool named) {
  const int high = width == 4 ? 2000000000 : (1 << (8 * width)) - 1;
  std::vector<NodeSpec> nodes;
  for (int i = 0; i < count; ++i) {
    std::vector<int> elements(6);
    for (int& e : elements) e = std::uniform_int_distribution<int>(0, high)(random);
    const std::string name = named && random() % 3 == 0 ? std::string(random() % 12 + 1, 'n') : "";
    nodes.emplace_back(elements, static_cast<int>(random() % 1000), name);
  }
  return nodes;
}

// Everything the reader hands out, one line per record.
std::vector<std::string> ReadAll(SetReader& reader, bool ownRows = false) {
  std::vector<std::string> records;
  std::vector<int> rows(static_cast<std::size_t>(reader.BatchCapacity() * reader.Dimension()));
  SetBatch batch;
  while (reader.Next(&batch, ownRows ? rows.data() : nullptr)) {
    EXPECT_EQ(batch.First, static_cast<int>(records.size()));
    EXPECT_LE(batch.Count, reader.BatchCapacity());
    for (int k = 0; k < batch.Count; ++k) {
      std::string line = batch.Names != nullptr && batch.Names[k] != nullptr ? batch.Names[k] : "-";
      for (int e = 0; e < reader.Dimension(); ++e) {
        line += ' ';
        line += std::to_string(batch.Elements[k * reader.Dimension() + e]);
      }
      records.push_back(line + " (" + std::to_string(batch.Freqs[k]) + ")");
    }
  }
  return records;
}

// The records as the reader must hand them out, from the nodes they were
// written from.
std::vector<std::string> Records(const std::vector<NodeSpec>& nodes) {
  std::vector<std::string> records;
  for (const NodeSpec& node : nodes) {
    std::string line = node.name.empty() ? "-" : node.name;
    for (const int e : node.elements) line += ' ' + std::to_string(e);
    records.push_back(line + " (" + std::to_string(node.freq) + ")");
  }
  return records;
}

int TotalFreq(const std::vector<NodeSpec>& nodes) {
  int total = 0;
  for (const NodeSpec& node : nodes) total += node.freq;
  return total;
}

TEST(SetReader, HandsOutEveryRecordAtEveryBufferAndBatchSize) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  TempDir dir;
  const std::string path = dir.Path("set.ts");
  for (int width = 1; width <= 4; ++width) {
    const std::vector<NodeSpec> nodes = RandomNodes(random, 23, width, width % 2 == 1);
    vqtest::WriteSet(path, kTrainingSetFile, 2, 3, nodes, width);
    // Buffers smaller than one record, records straddling two buffers, and
    // batches that end at the set's end or before it.
    for (const std::size_t buffer : {1, 7, 25, 26, 64, 100000}) {
      for (const int rows : {1, 2, 5, 23, 1000}) {
        SetReader reader(path.c_str(), buffer, rows);
        EXPECT_EQ(ReadAll(reader, rows == 5), Records(nodes)) << buffer << " " << rows;
        EXPECT_EQ(reader.Header().TotalFreq, TotalFreq(nodes));
        // A second pass hands out the same.
        reader.Rewind();
        EXPECT_EQ(ReadAll(reader), Records(nodes)) << buffer << " " << rows;
      }
    }
  }
}

TEST(SetReader, ReadsAPipeOnceAndPassesOverItAgainFromMemory) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  TempDir dir;
  const std::string path = dir.Path("set.ts");
  const std::vector<NodeSpec> nodes = RandomNodes(random, 40, 2, true);
  vqtest::WriteSet(path, kTrainingSetFile, 2, 3, nodes, 2);
  const std::vector<std::string> expected = Records(nodes);
  const std::string bytes = ReadFileBytes(path);
  for (const std::size_t buffer : {1, 7, 100000}) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fds[1]);
    {
      SetReader reader(("/dev/fd/" + std::to_string(fds[0])).c_str(), buffer, 3);
      ASSERT_TRUE(reader.Rewindable());
      EXPECT_EQ(ReadAll(reader), expected) << buffer;
      reader.Rewind();
      EXPECT_EQ(ReadAll(reader), expected) << buffer;
    }
    close(fds[0]);
  }
}

struct HostExit {
  int status;
};

// What a pass over a set file gives: the records handed out, in file
// order, and every message (with the exit status of a failed pass).
struct PassResult {
  std::vector<std::string> records;
  std::vector<std::string> messages;
  int status = 0;
  int totalFreq = 0;
};

// A pass with Next() on the calling thread (workers 0), or through
// ReadInParallel on `workers` workers, in batches of 3 records.
PassResult ReadPass(const std::string& path, int workers) {
  static std::vector<std::string> messages;
  messages.clear();
  SetExitHandler([](int status) { throw HostExit{status}; });
  SetMessageHandler([](int, const char* text) { messages.emplace_back(text); });
  PassResult result;
  std::mutex visiting;
  std::map<int, std::vector<std::string>> batches;
  try {
    SetReader reader(path.c_str(), 7, 3);
    auto lines = [&](const SetBatch& batch) {
      std::vector<std::string> lines;
      for (int k = 0; k < batch.Count; ++k) {
        std::string line =
            batch.Names != nullptr && batch.Names[k] != nullptr ? batch.Names[k] : "-";
        for (int e = 0; e < reader.Dimension(); ++e) {
          line += ' ' + std::to_string(batch.Elements[k * reader.Dimension() + e]);
        }
        lines.push_back(line + " (" + std::to_string(batch.Freqs[k]) + ")");
      }
      return lines;
    };
    if (workers == 0) {
      SetBatch batch;
      while (reader.Next(&batch)) batches.emplace(batch.First, lines(batch));
    } else {
      reader.ReadInParallel(
          [&](const SetBatch& batch, int worker) {
            EXPECT_LT(worker, workers);
            std::vector<std::string> batchLines = lines(batch);
            const std::lock_guard<std::mutex> lock(visiting);
            EXPECT_TRUE(batches.emplace(batch.First, std::move(batchLines)).second);
          },
          SetReader::kAllFields, nullptr, workers);
    }
    result.totalFreq = reader.Header().TotalFreq;
  } catch (const HostExit& exit) {
    result.status = exit.status;
  }
  SetExitHandler(nullptr);
  SetMessageHandler(nullptr);
  for (const auto& [first, lines] : batches) {
    EXPECT_EQ(first, static_cast<int>(result.records.size()));
    result.records.insert(result.records.end(), lines.begin(), lines.end());
  }
  result.messages = messages;
  return result;
}

// Sets with and without names, sound or damaged at the start, the middle
// or the end of the body (cut inside a record, or a name without its end),
// read on 1, 2 and 3 workers: the records and the first message of the
// run on the calling thread, and nothing from the damaged batch on.
TEST(SetReader, ReadsInParallelAsOnOneThread) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  TempDir dir;
  const std::string path = dir.Path("set.ts");
  for (const bool named : {false, true}) {
    const int width = named ? 2 : 1;
    std::vector<NodeSpec> nodes = RandomNodes(random, 40, width, named);
    vqtest::WriteSet(path, kTrainingSetFile, 2, 3, nodes, width, "v");
    const std::string sound = ReadFileBytes(path);
    const std::size_t body = sound.find(std::string(37, '-') + "\n") + 38;
    std::vector<std::size_t> starts;  // each record's first byte
    std::size_t at = body;
    for (const NodeSpec& node : nodes) {
      starts.push_back(at);
      at += node.name.size() + 1 + 6 * static_cast<std::size_t>(width) + 4;
    }
    ASSERT_EQ(at, sound.size());
    std::vector<std::pair<std::string, std::string>> files = {{"sound", sound}};
    for (const std::size_t record : {std::size_t{0}, std::size_t{20}, std::size_t{39}}) {
      files.emplace_back("cut in record " + std::to_string(record),
                         sound.substr(0, starts[record] + 3));
      std::string unended = sound;
      for (std::size_t k = starts[record]; k < std::min(unended.size(), starts[record] + 90); ++k) {
        unended[k] = 'x';
      }
      files.emplace_back("no name's end in record " + std::to_string(record), unended);
    }
    for (const auto& [damage, bytes] : files) {
      SCOPED_TRACE(std::string(named ? "named, " : "") + damage);
      WriteFileBytes(path, bytes);
      const PassResult expected = ReadPass(path, 0);
      EXPECT_EQ(expected.status, damage == "sound" ? 0 : -1);
      if (damage == "sound") {
        EXPECT_EQ(expected.records, Records(nodes));
        EXPECT_EQ(expected.totalFreq, TotalFreq(nodes));
      }
      for (const int workers : {1, 2, 3}) {
        const PassResult got = ReadPass(path, workers);
        EXPECT_EQ(got.status, expected.status) << workers;
        EXPECT_EQ(got.messages, expected.messages) << workers;
        EXPECT_EQ(got.records, expected.records) << workers;
        EXPECT_EQ(got.totalFreq, expected.totalFreq) << workers;
      }
    }
    // A compressed copy and a pipe, held in memory, read alike.
    WriteFileBytes(path + ".gz", vqtest::CompressWith("gzip", sound));
    EXPECT_EQ(ReadPass(path + ".gz", 2).records, Records(nodes));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], sound.data(), sound.size()), static_cast<ssize_t>(sound.size()));
    close(fds[1]);
    EXPECT_EQ(ReadPass("/dev/fd/" + std::to_string(fds[0]), 3).records, Records(nodes));
    close(fds[0]);
  }
}

TEST(SetReader, ReadsVersionOneFiles) {
  // One byte per element, the frequency in two bytes, least significant
  // first, and no names.
  TempDir dir;
  const std::string path = dir.Path("old.ts");
  const char body[] = "\x96\x9a\x06\x00\x3c\x01\x02\x01";
  WriteFileBytes(path, "VQ TRAINING SET 1.0\n2\n1\n2\n0\n0\n0\n0\n255\n" + std::string(37, '-') +
                           "\n" + std::string(body, sizeof body - 1));
  SetReader reader(path.c_str(), 5, 1);
  EXPECT_EQ(ReadAll(reader), (std::vector<std::string>{"- 150 154 (6)", "- 60 1 (258)"}));
  EXPECT_EQ(reader.Header().TotalFreq, 264);
}

TEST(ReadNarrowSet, HoldsEveryRecordAtTheFilesWidth) {
  std::mt19937 random(3);
  TempDir dir;
  const std::string path = dir.Path("set.ts");
  for (int width = 1; width <= 4; ++width) {
    SCOPED_TRACE(width);
    // Names in some groups of vectors only, from inside a group on.
    std::vector<NodeSpec> nodes = RandomNodes(random, 700, width, false);
    for (int i = 300; i < 520; i += 1 + static_cast<int>(random() % 3)) {
      nodes[static_cast<std::size_t>(i)].name = std::string(1 + random() % 79, 'a' + i % 26);
    }
    nodes.back().name = "last";
    vqtest::WriteSet(path, kTrainingSetFile, 2, 3, nodes, width);
    SetReader reader(path.c_str(), 100, 64);
    NarrowSet set;
    ReadNarrowSet(reader, &set);
    ASSERT_EQ(set.Size(), 700);
    EXPECT_EQ(set.ElementBytes, width <= 2 ? width : 4);
    std::vector<int> rows(700 * 6);
    WidenRows(set, 0, 700, rows.data());
    std::vector<std::string> records;
    for (int i = 0; i < 700; ++i) {
      std::string line = set.Name(i) != nullptr ? set.Name(i) : "-";
      for (int e = 0; e < 6; ++e) line += ' ' + std::to_string(rows[i * 6 + e]);
      records.push_back(line + " (" + std::to_string(set.Freqs[i]) + ")");
    }
    EXPECT_EQ(records, Records(nodes));
  }
}

// Gives the file back the access and modification times in `before`.
void RestoreTimes(const std::string& path, const struct stat& before) {
  const struct timespec times[2] = {before.st_atim, before.st_mtim};
  utimensat(AT_FDCWD, path.c_str(), times, 0);
}

class SetReaderDeathTest : public ::testing::Test {
 protected:
  // A named set whose last record is cut `cut` bytes before its end.
  std::string WriteCutSet(std::size_t cut) {
    vqtest::WriteSet(path_, kTrainingSetFile, 2, 1, {{{1, 2}, 3, "first"}, {{4, 5}, 6, "second"}});
    const std::string bytes = ReadFileBytes(path_);
    WriteFileBytes(path_, bytes.substr(0, bytes.size() - cut));
    return path_;
  }
  TempDir dir_;
  std::string path_ = dir_.Path("set.ts");
};

TEST_F(SetReaderDeathTest, ReportsAFileCutInsideTheLastRecordAtEveryBufferSize) {
  for (std::size_t cut = 1; cut <= 13; ++cut) {
    const std::string path = WriteCutSet(cut);
    for (const std::size_t buffer : {1, 4, 9, 4096}) {
      EXPECT_FATAL(
          {
            SetReader reader(path.c_str(), buffer, 1);
            ReadAll(reader);
          },
          "ERROR: premature end of file\n");
    }
  }
}

TEST_F(SetReaderDeathTest, ReportsAFileTruncatedBetweenTwoPasses) {
  const std::string path = WriteCutSet(0);
  EXPECT_FATAL(
      {
        SetReader reader(path.c_str(), 8, 1);
        ReadAll(reader);
        if (truncate(path.c_str(), 40) != 0) return;
        reader.Rewind();
      },
      "ERROR: The file " + path + " changed while it was read.\n");
}

TEST_F(SetReaderDeathTest, ReportsABatchThatReadsOtherwiseOnALaterPass) {
  const std::string path = WriteCutSet(0);
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  EXPECT_FATAL(
      {
        SetReader reader(path.c_str(), 8, 1);
        ReadAll(reader);
        // The second record's frequency changes; size and time stay.
        std::string bytes = ReadFileBytes(path);
        bytes.back() = 9;
        WriteFileBytes(path, bytes);
        RestoreTimes(path, before);
        reader.Rewind();
        SetBatch batch;
        reader.Next(&batch);  // the first record is the same
        reader.Next(&batch);
      },
      "ERROR: The file " + path + " changed while it was read.\n");
}

TEST(AssignToNearest, LeavesTheTotalsOfTheRecordSearch) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  TempDir dir;
  const std::string setPath = dir.Path("set.ts");
  vqtest::WriteSet(setPath, kTrainingSetFile, 2, 3, RandomNodes(random, 300, 1, false));
  Codebook set;
  Codebook codebook;
  ReadCodebook(setPath.c_str(), &set);
  vqtest::BuildSet(&codebook, kCodebookFile, 2, 3, RandomNodes(random, 9, 1, false));
  Partitioning expected;
  CreateNewPartitioning(&expected, &set, codebook.Booksize);
  const double error = GenerateOptimalPartitioningGeneral(&set, &codebook, &expected, 0);

  SetReader reader(setPath.c_str(), 64, 7);
  ReadAll(reader);
  PartitionTotals totals;
  std::vector<int> labels;
  AssignToNearest(reader, codebook, &totals, [&](const SetBatch& batch, const int* chosen) {
    labels.insert(labels.end(), chosen, chosen + batch.Count);
  });
  EXPECT_EQ(labels, std::vector<int>(expected.Map.get(), expected.Map.get() + set.Booksize));
  // Without a visitor, the batches are shared among workers with totals of
  // their own, two of them whatever the machine has.
  SetReader again(setPath.c_str(), 64, 7);
  ReadAll(again);
  PartitionTotals shared;
  cb_internal::AssignToNearestOn(again, codebook, &shared, nullptr, 2);
  for (const PartitionTotals* got : {&totals, &shared}) {
    EXPECT_DOUBLE_EQ(static_cast<double>(got->Error) / (6.0 * set.TotalFreq), error);
    for (int p = 0; p < codebook.Booksize; ++p) {
      EXPECT_EQ(got->PartitionSize[p], expected.PartitionSize[p]);
      EXPECT_EQ(got->PartitionSums[p].CCFreq, expected.PartitionSums[p].CCFreq);
      for (int e = 0; e < 6; ++e) {
        EXPECT_EQ(got->PartitionSums[p].VectorSum[e], expected.PartitionSums[p].VectorSum[e]);
      }
    }
  }
}

TEST(AssignToNearest, AFailedReadStopsEveryWorker) {
  TempDir dir;
  const std::string path = dir.Path("set.ts");
  std::mt19937 random(7);
  // Enough batches that the second worker surely runs before the end.
  vqtest::WriteSet(path, kTrainingSetFile, 2, 3, RandomNodes(random, 5000, 1, false));
  Codebook codebook;
  vqtest::BuildSet(&codebook, kCodebookFile, 2, 3, RandomNodes(random, 64, 1, false));
  struct stat before {};
  ASSERT_EQ(stat(path.c_str(), &before), 0);
  SetReader reader(path.c_str(), 64, 1);
  ReadAll(reader);
  // The last batch reads otherwise on the assigning pass: the worker that
  // reads it fails, and no worker reads after it (the reader stands at the
  // file's end, where another read would find the file cut short).
  std::string bytes = ReadFileBytes(path);
  bytes.back() ^= 1;
  WriteFileBytes(path, bytes);
  RestoreTimes(path, before);
  static std::vector<std::string> messages;
  messages.clear();
  SetExitHandler([](int status) { throw HostExit{status}; });
  SetMessageHandler([](int, const char* text) { messages.emplace_back(text); });
  int status = 0;
  try {
    cb_internal::AssignToNearestOn(reader, codebook, nullptr, nullptr, 2);
  } catch (const HostExit& exit) {
    status = exit.status;
  }
  SetExitHandler(nullptr);
  SetMessageHandler(nullptr);
  EXPECT_EQ(status, -1);
  EXPECT_EQ(messages,
            std::vector<std::string>{"ERROR: The file " + path + " changed while it was read.\n"});
}

}  // namespace
