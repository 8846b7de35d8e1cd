// The codebook training against the plain algorithm made of the record
// operations, on sets full of ties, held and streamed, on one and three
// threads, with and without the skipped searches.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "set_builder.h"
#include "test_support.h"
#include "training_internal.h"
#include "vqpeek/cb.h"

namespace {

using cb_internal::TrainingInt128;
using vqtest::NodeSpec;
using vqtest::TempDir;

struct Trained {
  std::vector<int> codes;  // K rows
  std::vector<int> freqs;
  std::vector<int> labels;
  int updates = 0;
  TrainingStop stop = TrainingStop::kUpdates;
  std::vector<double> history;
};

// The algorithm as the record operations give it: a partitioning from
// CreateNewPartitioning, then GenerateOptimalPartitioningGeneral,
// FillEmptyPartitions and GenerateOptimalCodebookGeneral in turn.
Trained Plain(const Codebook& TS, const Codebook& initial, int updates, double threshold) {
  const int K = initial.Booksize;
  const int dim = VectorDimension(TS);
  Codebook CB;
  CreateNewCodebook(&CB, K, &TS);
  for (int k = 0; k < K; ++k)
    CopyVector(initial.Book[k].Vector.get(), CB.Book[k].Vector.get(), dim);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, K);
  Trained out;
  TrainingInt128 previous = 0;
  std::uint64_t total = 0;
  for (int i = 0; i < TS.Booksize; ++i) total += static_cast<std::uint32_t>(TS.Book[i].Freq);
  for (int t = 0;; ++t) {
    GenerateOptimalPartitioningGeneral(&TS, &CB, &P, 0);
    TrainingInt128 D = 0;
    for (int i = 0; i < TS.Booksize; ++i) {
      D += static_cast<TrainingInt128>(VectorDistance(
               CB.Book[P.Map[i]].Vector.get(), TS.Book[i].Vector.get(), dim, kFullDistance, 0)) *
           TS.Book[i].Freq;
    }
    out.history.push_back(static_cast<double>(D) / (static_cast<double>(total) * dim));
    out.updates = t;
    if (t == updates) break;
    if (D == 0) {
      out.stop = TrainingStop::kZero;
      break;
    }
    if (t > 0 && static_cast<double>(previous - D) <= threshold * static_cast<double>(D)) {
      out.stop = TrainingStop::kThreshold;
      break;
    }
    FillEmptyPartitions(&TS, &CB, &P);
    GenerateOptimalCodebookGeneral(&TS, &CB, &P, 0);
    previous = D;
  }
  for (int k = 0; k < K; ++k) {
    out.codes.insert(out.codes.end(), CB.Book[k].Vector.get(), CB.Book[k].Vector.get() + dim);
    out.freqs.push_back(P.PartitionSums[k].CCFreq);
  }
  out.labels.assign(P.Map.get(), P.Map.get() + TS.Booksize);
  return out;
}

Trained Train(TrainingSource set, const Codebook& header, const Codebook& initial, int updates,
              double threshold, int threads, bool accelerate, TrainingResult* result) {
  const int K = initial.Booksize;
  const int dim = VectorDimension(initial);
  Codebook CB;
  CreateNewCodebook(&CB, K, &header);
  for (int k = 0; k < K; ++k)
    CopyVector(initial.Book[k].Vector.get(), CB.Book[k].Vector.get(), dim);
  TrainingOptions options;
  options.Updates = updates;
  options.Threshold = threshold;
  options.Threads = threads;
  options.Accelerate = accelerate;
  TrainCodebook(set, &CB, options, result);
  Trained out;
  for (int k = 0; k < K; ++k) {
    out.codes.insert(out.codes.end(), CB.Book[k].Vector.get(), CB.Book[k].Vector.get() + dim);
    out.freqs.push_back(CB.Book[k].Freq);
  }
  for (int i = 0; i < result->Labels.Count; ++i) out.labels.push_back(result->Labels[i]);
  out.updates = result->Updates;
  out.stop = result->Stop;
  out.history = result->History;
  return out;
}

void ExpectSame(const Trained& expected, const Trained& actual, const std::string& what) {
  EXPECT_EQ(actual.codes, expected.codes) << what;
  EXPECT_EQ(actual.freqs, expected.freqs) << what;
  EXPECT_EQ(actual.labels, expected.labels) << what;
  EXPECT_EQ(actual.updates, expected.updates) << what;
  EXPECT_EQ(actual.stop, expected.stop) << what;
  EXPECT_EQ(actual.history, expected.history) << what;
}

// A random set of `count` vectors in [0, high] with many ties: duplicates,
// frequencies 0 to 3, and an initial codebook with repeated code vectors
// and, with `far`, code vectors no training vector is near.
struct Case {
  int dim;
  int count;
  int codes;
  int high;
  int width;
  bool far;
  bool names;
};

void MakeCase(std::mt19937& random, const Case& c, std::vector<NodeSpec>* vectors,
              std::vector<NodeSpec>* codes) {
  std::uniform_int_distribution<int> value(0, c.high);
  auto row = [&] {
    std::vector<int> elements;
    for (int e = 0; e < c.dim; ++e) elements.push_back(value(random));
    return elements;
  };
  for (int i = 0; i < c.count; ++i) {
    std::vector<int> elements =
        i > 0 && random() % 3 == 0 ? (*vectors)[random() % i].elements : row();
    std::string name = c.names && random() % 2 == 0 ? "v" + std::to_string(i) : "";
    vectors->push_back({elements, static_cast<int>(random() % 4), name});
  }
  (*vectors)[0].freq = 1;  // a total above 0
  for (int k = 0; k < c.codes; ++k) {
    if (k > 0 && random() % 4 == 0) {
      codes->push_back((*codes)[random() % k]);
    } else if (c.far && random() % 3 == 0) {
      codes->push_back({std::vector<int>(static_cast<std::size_t>(c.dim), c.high * 3 + 1000)});
    } else {
      codes->push_back({(*vectors)[random() % c.count].elements});
    }
  }
}

TEST(TrainCodebook, AgreesBitForBitWithThePlainAlgorithmHeldOrStreamedOnAnyThreads) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const std::vector<Case> cases = {
      {4, 300, 12, 3, 1, false, false},  {16, 400, 24, 255, 1, true, true},
      {1, 200, 9, 2, 1, true, false},    {3, 250, 30, 1, 1, false, false},
      {5, 300, 7, 40000, 2, true, true}, {6, 200, 16, 300000, 4, false, false},
      {17, 150, 20, 6, 1, true, false},  {2, 120, 1, 5, 1, false, false},
      {8, 60, 70, 3, 1, true, false},    {4, 500, 300, 7, 2, false, false},
  };
  cb_internal::TrainingPartRows() = 16;  // parts for several threads
  TempDir dir;
  std::int64_t searched = 0;  // by the accelerated runs of held sets
  std::int64_t assigned = 0;
  for (const Case& c : cases) {
    std::vector<NodeSpec> vectors;
    std::vector<NodeSpec> codes;
    MakeCase(random, c, &vectors, &codes);
    const std::string path = dir.Path("set.ts");
    vqtest::WriteSet(path, kTrainingSetFile, c.dim, 1, vectors, c.width);
    Codebook TS;
    ReadCodebook(path.c_str(), &TS);
    Codebook initial;
    vqtest::BuildSet(&initial, kCodebookFile, c.dim, 1, codes, 4);
    SetReader first(path.c_str());
    NarrowSet held;
    ReadNarrowSet(first, &held);
    for (const auto& [updates, threshold] : {std::pair{50, 0.0}, {1, 0.0}, {50, 0.05}}) {
      const Trained expected = Plain(TS, initial, updates, threshold);
      const std::string what = "dim " + std::to_string(c.dim) + " n " + std::to_string(c.count) +
                               " K " + std::to_string(c.codes) + " U " + std::to_string(updates) +
                               " T " + std::to_string(threshold);
      for (const int threads : {1, 3}) {
        for (const bool accelerate : {true, false}) {
          const std::string how = what + " threads " + std::to_string(threads) +
                                  (accelerate ? " accelerated" : " plain");
          TrainingResult result;
          ExpectSame(expected,
                     Train(held, TS, initial, updates, threshold, threads, accelerate, &result),
                     how + " held");
          EXPECT_EQ(result.SetHasNames, c.names) << how;
          if (accelerate) {
            searched += result.SearchedVectors;
            assigned += static_cast<std::int64_t>(c.count) * (result.Updates + 1);
          }
          SetReader streamed(path.c_str(), SetReader::kBufferBytes, 7);
          ExpectSame(expected,
                     Train(streamed, TS, initial, updates, threshold, threads, accelerate, &result),
                     how + " streamed");
          EXPECT_EQ(result.SetHasNames, c.names) << how;
        }
      }
      // The caller's arrays at the set's width.
      TrainingResult result;
      const TrainingSource arrays =
          held.Bytes != nullptr ? TrainingSource(held.Bytes.get(), held.Freqs.get(), c.count, c.dim)
          : held.Words != nullptr
              ? TrainingSource(held.Words.get(), held.Freqs.get(), c.count, c.dim)
              : TrainingSource(held.Ints.get(), held.Freqs.get(), c.count, c.dim);
      ExpectSame(expected, Train(arrays, TS, initial, updates, threshold, 2, true, &result),
                 what + " arrays");
    }
  }
  cb_internal::TrainingPartRows() = 8192;
  // The bounds were at work: vectors kept their labels unsearched.
  EXPECT_LT(searched, assigned);
}

TEST(TrainCodebook, StopsWhereTheRuleSaysAndReportsEveryIteration) {
  Codebook TS;
  vqtest::BuildSet(&TS, kTrainingSetFile, 1, 1,
                   {{{0}, 2}, {{1}, 1}, {{9}, 1}, {{10}, 3}, {{30}, 1}, {{31}, 1}});
  const std::vector<int> ints = {0, 1, 9, 10, 30, 31};
  const std::vector<int> freqs = {2, 1, 1, 3, 1, 1};
  const TrainingSource rows(ints.data(), freqs.data(), 6, 1);
  Codebook initial;
  // Code vector 2 is near no training vector: it is refilled after the
  // first assignment with the worst represented one, 31 (21^2 from 10).
  vqtest::BuildSet(&initial, kCodebookFile, 1, 1, {{{0}}, {{10}}, {{1000}}});
  std::vector<TrainingProgress> seen;
  TrainingOptions options;
  options.Threshold = 0;
  options.Progress = [&](const TrainingProgress& p) { seen.push_back(p); };
  Codebook CB;
  CreateNewCodebook(&CB, 3, &TS);
  for (int k = 0; k < 3; ++k) CopyVector(initial.Book[k].Vector.get(), CB.Book[k].Vector.get(), 1);
  TrainingResult result;
  TrainCodebook(rows, &CB, options, &result);
  // t=0: 0,1 -> 0 (D 1); 9,10 -> 1 (D 1); 30,31 -> 1 (D 2 * 441); code 2 empty.
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0].Distortion, 1 + 1 + 400 + 441);
  EXPECT_EQ(seen[0].Refilled, 1);
  // Then 0 and 1 give 0 (1/3 rounded), 9, 10 and 30 give 14, and 30 moves
  // to 31's partition, which ends as 31 (30.5 rounded up).
  EXPECT_EQ(std::vector<int>(CB.Book[2].Vector.get(), CB.Book[2].Vector.get() + 1),
            std::vector<int>{31});
  EXPECT_EQ(result.Stop, TrainingStop::kThreshold);
  EXPECT_EQ(result.Updates + 1, static_cast<int>(seen.size()));
  EXPECT_TRUE(seen.back().Last);
  EXPECT_EQ(CB.Book[0].Freq + CB.Book[1].Freq + CB.Book[2].Freq, 9);

  // D = 0 at once: every vector is a code vector.
  Codebook exact;
  vqtest::BuildSet(&exact, kCodebookFile, 1, 1, {{{0}}, {{1}}, {{9}}, {{10}}, {{30}}, {{31}}});
  Codebook all;
  CreateNewCodebook(&all, 6, &TS);
  for (int k = 0; k < 6; ++k) CopyVector(exact.Book[k].Vector.get(), all.Book[k].Vector.get(), 1);
  TrainCodebook(rows, &all, options, &result);
  EXPECT_EQ(result.Stop, TrainingStop::kZero);
  EXPECT_EQ(result.Updates, 0);
  EXPECT_EQ(result.Mse, 0);

  // No update at all: the initial codebook with the totals of its partitions.
  options.Updates = 0;
  for (int k = 0; k < 3; ++k) CopyVector(initial.Book[k].Vector.get(), CB.Book[k].Vector.get(), 1);
  TrainCodebook(rows, &CB, options, &result);
  EXPECT_EQ(result.Stop, TrainingStop::kUpdates);
  EXPECT_EQ(result.Updates, 0);
  EXPECT_EQ(CB.Book[2].Vector[0], 1000);
  EXPECT_EQ(CB.Book[0].Freq, 3);
  EXPECT_EQ(CB.Book[1].Freq, 6);
  EXPECT_EQ(CB.Book[2].Freq, 0);
  EXPECT_EQ(result.Labels[5], 1);
}

TEST(TrainCodebook, AStopRequestedBetweenPartsLeavesTheCodebookAsItWas) {
  const std::vector<std::uint8_t> rows = {0, 1, 2, 3, 4, 5, 6, 7};
  const std::vector<int> freqs(8, 1);
  Codebook header;
  vqtest::BuildSet(&header, kCodebookFile, 1, 1, {{{0}}, {{7}}});
  Codebook CB;
  CreateNewCodebook(&CB, 2, &header);
  CB.Book[1].Vector[0] = 7;
  TrainingOptions options;
  options.PassProgress = [](std::int64_t, std::int64_t) { throw std::runtime_error("stop"); };
  TrainingResult result;
  EXPECT_THROW(
      TrainCodebook(TrainingSource(rows.data(), freqs.data(), 8, 1), &CB, options, &result),
      std::runtime_error);
  EXPECT_EQ(CB.Book[0].Vector[0], 0);
  EXPECT_EQ(CB.Book[1].Vector[0], 7);
  // Streamed: the stop leaves the parallel reader's workers joined.
  TempDir dir;
  std::vector<NodeSpec> vectors;
  for (const std::uint8_t row : rows) vectors.push_back({{row}, 1});
  vqtest::WriteSet(dir.Path("set.ts"), kTrainingSetFile, 1, 1, vectors);
  SetReader reader(dir.Path("set.ts").c_str(), SetReader::kBufferBytes, 2);
  options.Threads = 1;
  EXPECT_THROW(TrainCodebook(reader, &CB, options, &result), std::runtime_error);
  EXPECT_EQ(CB.Book[0].Vector[0], 0);
  EXPECT_EQ(CB.Book[1].Vector[0], 7);
}

class TrainCodebookDeathTest : public ::testing::Test {};

TEST_F(TrainCodebookDeathTest, RefusesWhatCannotBeTrained) {
  const std::vector<std::uint8_t> rows = {0, 1, 2, 3};
  const std::vector<int> zero(4, 0);
  const std::vector<int> huge = {2000000000, 2000000000, 1, 1};
  Codebook header;
  vqtest::BuildSet(&header, kCodebookFile, 1, 1, {{{0}}});
  auto train = [&](const std::vector<int>& freqs, int dim, int K, TrainingOptions options) {
    Codebook CB;
    header.BlockSizeX = dim;
    CreateNewCodebook(&CB, K, &header);
    TrainingResult result;
    TrainCodebook(TrainingSource(rows.data(), freqs.data(), 4 / dim, dim), &CB, options, &result);
  };
  const std::vector<int> ones(4, 1);
  EXPECT_FATAL(train(zero, 1, 2, {}), "ERROR: The training set has a total frequency of 0.\n");
  EXPECT_FATAL(train(huge, 1, 2, {}),
               "ERROR: The training set's total frequency (4000000002) is more than a codebook "
               "can record (2147483647).\n");
  EXPECT_FATAL(train(ones, 1, 0, {}), "ERROR: The codebook is empty.\n");
  TrainingOptions negative;
  negative.Updates = -1;
  EXPECT_FATAL(train(ones, 1, 2, negative), "ERROR: Invalid number of updates (-1).\n");
  TrainingOptions nan;
  nan.Threshold = std::nan("");
  EXPECT_FATAL(train(ones, 1, 2, nan), "ERROR: Invalid threshold (nan).\n");
  Codebook wide;
  vqtest::BuildSet(&wide, kCodebookFile, 2, 1, {{{0, 0}}});
  TrainingResult result;
  EXPECT_FATAL(TrainCodebook(TrainingSource(rows.data(), ones.data(), 4, 1), &wide, {}, &result),
               "ERROR: Codebook and training set differ in vector dimension (2 != 1).\n");
}

TEST(ChooseTrainingVectors, TakesDistinctVectorsByTheSeedHeldOrStreamed) {
  TempDir dir;
  std::vector<NodeSpec> vectors;
  for (int i = 0; i < 200; ++i) vectors.push_back({{i % 37, (i * 7) % 37 / 5}, 1});
  const std::string path = dir.Path("set.ts");
  vqtest::WriteSet(path, kTrainingSetFile, 2, 1, vectors);
  SetReader reader(path.c_str(), SetReader::kBufferBytes, 9);
  NarrowSet held;
  ReadNarrowSet(reader, &held);
  auto choose = [&](TrainingSource set, int count, std::uint64_t seed) {
    Codebook CB;
    CreateNewCodebook(&CB, count, &held.Header);
    ChooseTrainingVectors(set, count, seed, &CB);
    std::vector<std::vector<int>> rows;
    for (int k = 0; k < count; ++k) rows.push_back(vqtest::Elements(CB, k));
    return rows;
  };
  const auto chosen = choose(held, 37, 1);
  EXPECT_EQ(chosen, choose(reader, 37, 1));  // the same from the file
  std::vector<std::vector<int>> sorted = chosen;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end()) << "not distinct";
  EXPECT_NE(chosen, choose(held, 37, 2));
  // A smaller choice is the start of a larger one: the keys decide.
  const auto five = choose(held, 5, 1);
  EXPECT_EQ(five, std::vector<std::vector<int>>(chosen.begin(), chosen.begin() + 5));
  EXPECT_FATAL(choose(held, 38, 1),
               "ERROR: The training set holds 37 distinct vectors, fewer than the 38 code vectors "
               "asked for.\n");
}

TEST(WriteTrainingPartitioning, WritesWhatWritePartitioningWritesHeldOrStreamed) {
  TempDir dir;
  const std::vector<NodeSpec> vectors = {{{1}, 1, "a"}, {{5}, 2}, {{9}, 1, "c d"}, {{2}, 1}};
  const std::string path = dir.Path("set.ts");
  vqtest::WriteSet(path, kTrainingSetFile, 1, 1, vectors);
  Codebook TS;
  ReadCodebook(path.c_str(), &TS);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 3);
  ChangePartition(&TS, &P, 2, 1);
  ChangePartition(&TS, &P, 1, 2);
  std::snprintf(P.GenerationMethod, kTextFieldSize, "%s", "generalised Lloyd, 2 updates");
  WritePartitioning(dir.Path("expected.pa").c_str(), &P, &TS, 1);
  TrainingResult result;
  result.Labels.Count = 4;
  result.Labels.Width = 1;
  result.Labels.Bytes.reset(new std::uint8_t[4]{0, 2, 1, 0});
  result.SetHasNames = true;
  SetReader reader(path.c_str());
  NarrowSet held;
  ReadNarrowSet(reader, &held);
  const std::string expected = vqtest::ReadFileBytes(dir.Path("expected.pa"));
  WriteTrainingPartitioning(dir.Path("held.pa").c_str(), held, result, 3,
                            "generalised Lloyd, 2 updates", 1);
  EXPECT_EQ(vqtest::ReadFileBytes(dir.Path("held.pa")), expected);
  WriteTrainingPartitioning(dir.Path("streamed.pa").c_str(), reader, result, 3,
                            "generalised Lloyd, 2 updates", 1);
  EXPECT_EQ(vqtest::ReadFileBytes(dir.Path("streamed.pa")), expected);
}

}  // namespace
