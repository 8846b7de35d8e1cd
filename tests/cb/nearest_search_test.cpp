// The fast paths of the nearest-vector search against the plain scan.
#include "nearest_search.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

using cb_internal::NearestPath;

struct Shape {
  int dim;
  int codes;
  int vectors;
  long long low;   // smallest element value
  long long high;  // largest element value
};

// A training set and codebook of random values in [low, high], with many
// ties: a quarter of the code vectors repeat an earlier one and a quarter of
// the training vectors are copies of code vectors (distance 0).
void MakeSets(std::mt19937& random, const Shape& shape, Codebook* TS, Codebook* CB) {
  std::uniform_int_distribution<long long> value(shape.low, shape.high);
  std::vector<vqtest::NodeSpec> codes;
  for (int j = 0; j < shape.codes; ++j) {
    if (j > 0 && random() % 4 == 0) {
      codes.push_back(codes[random() % j]);
      continue;
    }
    std::vector<int> elements;
    for (int e = 0; e < shape.dim; ++e) elements.push_back(static_cast<int>(value(random)));
    codes.push_back({elements, 1});
  }
  std::vector<vqtest::NodeSpec> vectors;
  for (int i = 0; i < shape.vectors; ++i) {
    if (random() % 4 == 0) {
      vectors.push_back(codes[random() % codes.size()]);
      continue;
    }
    std::vector<int> elements;
    for (int e = 0; e < shape.dim; ++e) elements.push_back(static_cast<int>(value(random)));
    vectors.push_back({elements, 1});
  }
  vqtest::BuildSet(TS, kTrainingSetFile, shape.dim, 1, vectors, 4);
  vqtest::BuildSet(CB, kCodebookFile, shape.dim, 1, codes, 4);
}

const std::vector<Shape>& Shapes() {
  static const std::vector<Shape> shapes = {
      {16, 256, 300, 0, 255},
      {16, 17, 200, 0, 255},
      {1, 5, 100, 0, 3},
      {3, 16, 200, 0, 2},
      {5, 33, 200, 0, 255},
      {17, 64, 100, 0, 255},
      {64, 40, 50, 0, 255},
      {4, 1, 20, 0, 255},
      {7, 20, 200, -100, 100},
      {6, 50, 200, 1000, 1255},
      {9, 30, 100, -32768, -32513},
      {2, 100, 300, 0, 1},
      {8, 24, 100, 0, 4000},
      {16, 300, 100, 0, 40000},
      {12, 30, 100, -2000000, 2000000},
      {3, 20, 100, INT_MAX - 255, INT_MAX},
      {4, 20, 100, INT_MIN, INT_MIN + 255},
      {5, 20, 100, INT_MIN, INT_MAX},
      {4, 20, 100, 65535 - 255, 65535},
      {4, 20, 100, 0, 65535},
      {3, 10, 60, 16777215 - 1000, 16777215},
      {3, 10, 60, 0, 16777215},
      {16, 40, 203, 0, 255},
      {5, 3, 7, 0, 255},
  };
  return shapes;
}

// The rows of a record, one after another.
std::vector<int> Flat(const Codebook& set) {
  std::vector<int> rows;
  for (int i = 0; i < set.Booksize; ++i) {
    rows.insert(rows.end(), set.Book[i].Vector.get(),
                set.Book[i].Vector.get() + VectorDimension(set));
  }
  return rows;
}

// The rows of a record at a narrower width, as a set file of that width
// holds them.
template <typename T>
std::vector<T> Narrow(const std::vector<int>& rows) {
  return std::vector<T>(rows.begin(), rows.end());
}

TEST(SearchNearestSquared, EveryPathGivesThePlainScansResults) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (const Shape& shape : Shapes()) {
    for (int round = 0; round < 3; ++round) {
      Codebook TS;
      Codebook CB;
      MakeSets(random, shape, &TS, &CB);
      std::vector<int> start(static_cast<std::size_t>(shape.vectors));
      // Mostly valid start candidates, some outside the codebook.
      for (int& s : start) s = static_cast<int>(random() % (shape.codes + 2)) - 1;
      std::vector<int> expectedChosen(start.size());
      std::vector<std::int64_t> expectedBest(start.size());
      cb_internal::SearchNearestSquared(TS, 0, shape.vectors, CB, start.data(),
                                        expectedChosen.data(), expectedBest.data(),
                                        NearestPath::kScalar);
      // The nearest of the other code vectors, by full distances.
      std::vector<std::int64_t> expectedSecond(start.size(), kFullDistance);
      for (int i = 0; i < shape.vectors; ++i) {
        for (int j = 0; j < shape.codes; ++j) {
          if (j == expectedChosen[i]) continue;
          expectedSecond[i] = std::min(
              expectedSecond[i], VectorDistance(CB.Book[j].Vector.get(), TS.Book[i].Vector.get(),
                                                shape.dim, kFullDistance, 0));
        }
      }
      // The record's nodes, and its rows flat at every width that holds
      // the values.
      const std::vector<int> ints = Flat(TS);
      const std::vector<std::uint16_t> words = Narrow<std::uint16_t>(ints);
      const std::vector<std::uint8_t> bytes = Narrow<std::uint8_t>(ints);
      std::vector<cb_internal::VectorRows> forms = {TS, {ints.data(), shape.dim}};
      if (shape.low >= 0 && shape.high <= 65535) forms.emplace_back(words.data(), shape.dim);
      if (shape.low >= 0 && shape.high <= 255) forms.emplace_back(bytes.data(), shape.dim);
      // kPortable also with its code vectors laid out one or a few at a time.
      const std::size_t few = 3 * static_cast<std::size_t>(shape.dim) * sizeof(std::int64_t);
      for (const auto& [path, layoutBytes] :
           {std::pair{NearestPath::kVnni, cb_internal::kPortableLayoutBytes},
            {NearestPath::kAvx2, cb_internal::kPortableLayoutBytes},
            {NearestPath::kPortable, cb_internal::kPortableLayoutBytes},
            {NearestPath::kPortable, std::size_t{1}},
            {NearestPath::kPortable, few},
            {NearestPath::kScalar, cb_internal::kPortableLayoutBytes},
            {NearestPath::kAuto, cb_internal::kPortableLayoutBytes}}) {
        if (!cb_internal::NearestPathAvailable(path)) continue;
        for (std::size_t form = 0; form < forms.size(); ++form) {
          std::vector<int> chosen(start.size(), -7);
          std::vector<std::int64_t> best(start.size(), -7);
          // A part of the set only, to check the offsets as well; kAuto
          // splits it between three threads however small it is.
          const int begin = shape.vectors / 5;
          cb_internal::SearchNearestSquared(forms[form], begin, shape.vectors, CB,
                                            start.data() + begin, chosen.data() + begin,
                                            best.data() + begin, path, 3, 1, layoutBytes);
          for (int i = begin; i < shape.vectors; ++i) {
            ASSERT_EQ(chosen[i], expectedChosen[i])
                << "path " << static_cast<int>(path) << " form " << form << " dim " << shape.dim
                << " codes " << shape.codes << " range " << shape.low << ".." << shape.high
                << " vector " << i;
            ASSERT_EQ(best[i], expectedBest[i])
                << "path " << static_cast<int>(path) << " form " << form << " vector " << i;
          }
          for (int i = 0; i < begin; ++i) ASSERT_EQ(chosen[i], -7) << "written outside the part";
          // The same with the distance of the nearest other code vector.
          std::vector<std::int64_t> second(start.size(), -7);
          std::fill(chosen.begin(), chosen.end(), -7);
          cb_internal::SearchNearestAndSecond(
              forms[form], begin, shape.vectors, CB, start.data() + begin, chosen.data() + begin,
              best.data() + begin, second.data() + begin, path, layoutBytes);
          for (int i = begin; i < shape.vectors; ++i) {
            ASSERT_EQ(chosen[i], expectedChosen[i]) << "second, path " << static_cast<int>(path);
            ASSERT_EQ(best[i], expectedBest[i]) << "second, path " << static_cast<int>(path);
            ASSERT_EQ(second[i], expectedSecond[i])
                << "path " << static_cast<int>(path) << " form " << form << " dim " << shape.dim
                << " codes " << shape.codes << " vector " << i;
          }
          ASSERT_EQ(second[0], -7) << "written outside the part";
        }
      }
    }
  }
}

TEST(SearchNearestSquared, TheStartCandidateKeepsItsPlaceOnATie) {
  Codebook TS;
  Codebook CB;
  vqtest::BuildSet(&TS, kTrainingSetFile, 2, 1, {{{5, 5}}, {{5, 5}}, {{0, 0}}});
  // Code vectors 1 and 3 are equally near (distance 2) to (5, 5); 0 is farther.
  vqtest::BuildSet(&CB, kCodebookFile, 2, 1, {{{9, 9}}, {{4, 6}}, {{0, 0}}, {{6, 4}}});
  const int start[] = {3, 0, 1};
  for (const NearestPath path :
       {NearestPath::kScalar, NearestPath::kPortable, NearestPath::kAvx2, NearestPath::kVnni}) {
    if (!cb_internal::NearestPathAvailable(path)) continue;
    int chosen[3];
    std::int64_t best[3];
    // kPortable with one code vector laid out at a time: the start
    // candidate and the lowest index lie in different blocks.
    cb_internal::SearchNearestSquared(TS, 0, 3, CB, start, chosen, best, path, 1, 1,
                                      path == NearestPath::kPortable ? 1 : 1 << 20);
    EXPECT_EQ(chosen[0], 3) << static_cast<int>(path);  // start is as near: it stays
    EXPECT_EQ(chosen[1], 1) << static_cast<int>(path);  // lowest index among the nearest
    EXPECT_EQ(chosen[2], 2) << static_cast<int>(path);
    EXPECT_EQ(best[0], 2);
    EXPECT_EQ(best[1], 2);
    EXPECT_EQ(best[2], 0);
  }
}

TEST(FindNearestVectors, FlatRowsGiveThePlainScanFromTheFirstCodeVector) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (const Shape& shape : Shapes()) {
    Codebook TS;
    Codebook CB;
    MakeSets(random, shape, &TS, &CB);
    const std::vector<int> start(static_cast<std::size_t>(shape.vectors), 0);
    std::vector<int> expectedChosen(start.size());
    std::vector<std::int64_t> expectedBest(start.size());
    cb_internal::SearchNearestSquared(TS, 0, shape.vectors, CB, start.data(), expectedChosen.data(),
                                      expectedBest.data(), NearestPath::kScalar);
    const std::vector<int> vectors = Flat(TS);
    const std::vector<int> codes = Flat(CB);
    for (const int threads : {0, 1, 3}) {
      std::vector<int> chosen(start.size(), -7);
      std::vector<std::int64_t> best(start.size(), -7);
      FindNearestVectors(vectors.data(), shape.vectors, codes.data(), shape.codes, shape.dim,
                         threads, chosen.data(), best.data());
      ASSERT_EQ(chosen, expectedChosen) << "dim " << shape.dim << " threads " << threads;
      ASSERT_EQ(best, expectedBest) << "dim " << shape.dim << " threads " << threads;
      if (shape.low < 0 || shape.high > 65535) continue;
      // The same rows at the width of a set file.
      std::fill(chosen.begin(), chosen.end(), -7);
      if (shape.high <= 255) {
        FindNearestVectors(Narrow<std::uint8_t>(vectors).data(), shape.vectors, codes.data(),
                           shape.codes, shape.dim, threads, chosen.data(), best.data());
      } else {
        FindNearestVectors(Narrow<std::uint16_t>(vectors).data(), shape.vectors, codes.data(),
                           shape.codes, shape.dim, threads, chosen.data(), best.data());
      }
      ASSERT_EQ(chosen, expectedChosen) << "narrow, dim " << shape.dim << " threads " << threads;
      ASSERT_EQ(best, expectedBest) << "narrow, dim " << shape.dim << " threads " << threads;
    }
  }
}

TEST(NearestPathFits, DependsOnTheSpreadAndTheDimension) {
  Codebook TS;
  Codebook CB;
  vqtest::BuildSet(&TS, kTrainingSetFile, 2, 1, {{{1000, 1255}}});
  vqtest::BuildSet(&CB, kCodebookFile, 2, 1, {{{1100, 1100}}});
  EXPECT_TRUE(cb_internal::NearestPathFits(NearestPath::kVnni, TS, 0, 1, CB));
  vqtest::BuildSet(&CB, kCodebookFile, 2, 1, {{{999, 1100}}});
  EXPECT_FALSE(cb_internal::NearestPathFits(NearestPath::kVnni, TS, 0, 1, CB));
  EXPECT_TRUE(cb_internal::NearestPathFits(NearestPath::kAvx2, TS, 0, 1, CB));
  vqtest::BuildSet(&CB, kCodebookFile, 2, 1, {{{-2000000000, 0}}});
  EXPECT_FALSE(cb_internal::NearestPathFits(NearestPath::kAvx2, TS, 0, 1, CB));
  EXPECT_TRUE(cb_internal::NearestPathFits(NearestPath::kPortable, TS, 0, 1, CB));
  vqtest::BuildSet(&TS, kTrainingSetFile, 2, 1, {{{INT_MAX, INT_MAX}}});
  EXPECT_FALSE(cb_internal::NearestPathFits(NearestPath::kPortable, TS, 0, 1, CB));
  EXPECT_TRUE(cb_internal::NearestPathFits(NearestPath::kScalar, TS, 0, 1, CB));
}

}  // namespace
