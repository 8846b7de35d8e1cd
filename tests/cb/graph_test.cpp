#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "test_support.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;
using vqtest::ReadFileBytes;
using vqtest::TempDir;
using vqtest::WriteFileBytes;

const std::string kDashes = "-------------------------------------\n";

std::string Header(const std::string& n, const std::string& k, const std::string& dim) {
  return "Graph v. 1\n" + n + "\n" + k + "\n" + dim + "\n" + kDashes;
}

std::vector<int> Coords(const GraphVector* v, int dim) {
  return {v->Coord.get(), v->Coord.get() + dim};
}
std::vector<int> Neighbours(const GraphVector* v, int k) { return {v->NN.get(), v->NN.get() + k}; }

// A stream holding `bytes`, positioned at its start.
struct Stream {
  explicit Stream(const std::string& bytes) : file(std::tmpfile()) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
  }
  ~Stream() { std::fclose(file); }
  FILE* file;
};

GraphPtr ReadBytes(const std::string& bytes) {
  TempDir dir;
  WriteFileBytes(dir.Path("g"), bytes);
  return GraphRead(dir.Path("g").c_str());
}

// Three slots, K 2, Dim 2; slot 2 stays empty.
GraphPtr SmallGraph() {
  GraphPtr graph = AllocateMemoryForGraph(3, 2, 2);
  const int a[] = {1, -2};
  const int b[] = {30, 4};
  GraphPutVector(graph.get(), 0, a);
  GraphPutVector(graph.get(), 1, b);
  GraphPutNN(graph.get(), GraphGetVector(graph.get(), 0), 1, 0);
  GraphPutNN(graph.get(), GraphGetVector(graph.get(), 0), 2, 1);
  GraphPutNN(graph.get(), GraphGetVector(graph.get(), 1), 0, 0);
  GraphPutNN(graph.get(), GraphGetVector(graph.get(), 1), 2, 1);
  return graph;
}

const std::string kSmallGraphFile = Header("3", "2", "2") + "1 -2 1 2 \n30 4 0 2 \n0 0 0 0 \n";

// --- The record ---

TEST(AllocateMemoryForGraph, MakesEmptySlotsAndReportsANegativeCount) {
  GraphPtr graph = AllocateMemoryForGraph(4, 3, 2);
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(GraphGetNumberVectors(graph.get()), 4);
  EXPECT_EQ(GraphGetK(graph.get()), 3);
  EXPECT_EQ(GraphGetDim(graph.get()), 2);
  EXPECT_EQ(GraphGetMaxCoord(graph.get()), 0);
  for (int i = -1; i <= 4; ++i) EXPECT_EQ(GraphGetVector(graph.get(), i), nullptr) << i;

  CaptureStdout();
  EXPECT_EQ(AllocateMemoryForGraph(-1, 3, 2), nullptr);
  EXPECT_EQ(GetCapturedStdout(), "Allocate error: AllocateMemoryForGraph(Graph)\n");
}

TEST(AllocateMemoryForGraphVector, MakesZeroedArraysOutsideTheGraph) {
  GraphPtr graph = AllocateMemoryForGraph(2, 3, 2);
  GraphVectorPtr vector = AllocateMemoryForGraphVector(graph.get(), 7);
  ASSERT_NE(vector, nullptr);
  EXPECT_EQ(GraphGetVectorIndex(vector.get()), 7);
  EXPECT_EQ(Coords(vector.get(), 2), std::vector<int>({0, 0}));
  EXPECT_EQ(Neighbours(vector.get(), 3), std::vector<int>({0, 0, 0}));
  EXPECT_EQ(GraphGetVector(graph.get(), 0), nullptr);

  GraphPutDim(graph.get(), -1);
  CaptureStdout();
  EXPECT_EQ(AllocateMemoryForGraphVector(graph.get(), 0), nullptr);
  EXPECT_EQ(GetCapturedStdout(), "Allocate error: AllocateMemoryForGraphVector()\n");
}

TEST(GraphPutVector, StoresACopyOnlyInSlotsOfTheGraph) {
  GraphPtr graph = AllocateMemoryForGraph(2, 1, 3);
  int coords[] = {5, 6, 7};
  EXPECT_EQ(GraphPutVector(graph.get(), 1, coords), 0);
  coords[0] = 99;
  GraphVector* stored = GraphGetVector(graph.get(), 1);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(GraphGetVectorIndex(stored), 1);
  EXPECT_EQ(Coords(stored, 3), std::vector<int>({5, 6, 7}));
  EXPECT_EQ(GraphPutVectorElement(stored, 2, -8), 0);
  EXPECT_EQ(GraphGetVectorCoord(stored)[2], -8);
  EXPECT_EQ(GraphPutVectorElement(stored, 3, 1), 1);
  EXPECT_EQ(GraphPutVectorElement(stored, -1, 1), 1);

  EXPECT_EQ(GraphPutVector(graph.get(), 2, coords), 1);
  EXPECT_EQ(GraphPutVector(graph.get(), -1, coords), 1);
  EXPECT_EQ(GraphPutVector(graph.get(), 0, nullptr), 1);
  EXPECT_EQ(GraphGetVector(graph.get(), 0), nullptr);

  EXPECT_EQ(FreeGraphVector(graph.get(), 0), 1);
  EXPECT_EQ(FreeGraphVector(graph.get(), 5), 1);
  EXPECT_EQ(FreeGraphVector(graph.get(), 1), 0);
  EXPECT_EQ(GraphGetVector(graph.get(), 1), nullptr);  // no dangling vector
  EXPECT_EQ(FreeGraphVector(graph.get(), 1), 1);
  EXPECT_EQ(FreeGraph(std::move(graph)), 0);
}

TEST(GraphPutNN, IndexKIsOutsideAndEntriesMustNameSlots) {
  GraphPtr graph = SmallGraph();
  GraphVector* a = GraphGetVector(graph.get(), 0);
  GraphVector* b = GraphGetVector(graph.get(), 1);
  EXPECT_EQ(GraphPutNN(graph.get(), a, 0, 2), 1);
  EXPECT_EQ(GraphPutNN(graph.get(), a, 0, -1), 1);
  EXPECT_EQ(Neighbours(a, 2), std::vector<int>({1, 2}));

  EXPECT_EQ(GraphGetNNVector(graph.get(), a, 0), b);
  EXPECT_EQ(GraphGetNNVector(graph.get(), a, 1), nullptr);  // slot 2 is empty
  EXPECT_EQ(GraphGetNNVector(graph.get(), a, 2), nullptr);
  EXPECT_EQ(GraphGetNNVector(graph.get(), a, -1), nullptr);
  for (const int wild : {-1, 3, INT_MAX, INT_MIN}) {
    GraphPutNN(graph.get(), a, wild, 0);
    EXPECT_EQ(GraphGetNNVector(graph.get(), a, 0), nullptr) << wild;
  }
  EXPECT_EQ(GraphGetNNVector(graph.get(), nullptr, 0), nullptr);
}

TEST(IsGraphEdge, IsDirectedAndLooksAtTheFirstKEntriesOnly) {
  GraphPtr graph = SmallGraph();
  GraphVector* a = GraphGetVector(graph.get(), 0);
  GraphVector* b = GraphGetVector(graph.get(), 1);
  GraphPutNN(graph.get(), b, 1, 0);
  GraphPutNN(graph.get(), b, 1, 1);
  EXPECT_EQ(IsGraphEdge(graph.get(), a, b), 1);
  EXPECT_EQ(IsGraphEdge(graph.get(), b, a), 0);
  GraphPutNN(graph.get(), b, 0, 1);
  EXPECT_EQ(IsGraphEdge(graph.get(), b, a), 1);
  GraphPutK(graph.get(), 1);
  EXPECT_EQ(IsGraphEdge(graph.get(), b, a), 0);
  GraphPutK(graph.get(), 0);
  EXPECT_EQ(IsGraphEdge(graph.get(), a, b), 0);
  GraphPutK(graph.get(), -3);
  EXPECT_EQ(IsGraphEdge(graph.get(), a, b), 0);
}

TEST(GraphPutCounts, NeverLetAccessReachBeyondTheArrays) {
  GraphPtr graph = SmallGraph();
  GraphVector* a = GraphGetVector(graph.get(), 0);
  // Raised counts: the vector keeps its arrays; what it lacks reads as 0.
  GraphPutK(graph.get(), 4);
  GraphPutDim(graph.get(), 3);
  EXPECT_EQ(GraphPutNN(graph.get(), a, 9, 2), 1);
  EXPECT_EQ(GraphPutVectorElement(a, 2, 9), 1);
  CaptureStdout();
  GraphPrint(graph.get());
  EXPECT_EQ(GetCapturedStdout(), "1 -2 0 1 2 0 0 \n30 4 0 0 2 0 0 \n0 0 0 0 0 0 0 \n");

  // Shrinking hides slots and keeps their vectors; growing adds empty slots.
  EXPECT_EQ(GraphPutNumberVectors(graph.get(), 1), 0);
  EXPECT_EQ(GraphGetVector(graph.get(), 1), nullptr);
  EXPECT_EQ(GraphPutNumberVectors(graph.get(), 6), 0);
  EXPECT_EQ(GraphGetVector(graph.get(), 0), a);
  ASSERT_NE(GraphGetVector(graph.get(), 1), nullptr);
  EXPECT_EQ(GraphGetVector(graph.get(), 5), nullptr);
  const int coords[] = {1, 2, 3};
  EXPECT_EQ(GraphPutVector(graph.get(), 5, coords), 0);
  EXPECT_EQ(GraphPutNumberVectors(graph.get(), -1), 1);
  EXPECT_EQ(GraphGetNumberVectors(graph.get()), 6);
}

TEST(GraphPrint, WritesTheVectorLinesWithoutHeader) {
  GraphPtr graph = SmallGraph();
  CaptureStdout();
  EXPECT_EQ(GraphPrint(graph.get()), 0);
  EXPECT_EQ(GetCapturedStdout(), "1 -2 1 2 \n30 4 0 2 \n0 0 0 0 \n");
}

// --- Writing ---

TEST(GraphWrite, WritesTheExactFileForm) {
  TempDir dir;
  GraphPtr graph = SmallGraph();
  EXPECT_EQ(GraphWrite(dir.Path("g").c_str(), graph.get(), 0), 0);
  EXPECT_EQ(ReadFileBytes(dir.Path("g")), kSmallGraphFile);
}

TEST(GraphWrite, ReportsEveryFailure) {
  TempDir dir;
  GraphPtr graph = SmallGraph();
  const std::string path = dir.Path("g");
  WriteFileBytes(path, "old");
  CaptureStderr();
  EXPECT_EQ(GraphWrite(path.c_str(), graph.get(), 0), 1);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: File already exists: " + path);
  EXPECT_EQ(ReadFileBytes(path), "old");
  EXPECT_EQ(GraphWrite(path.c_str(), graph.get(), 1), 0);
  EXPECT_EQ(ReadFileBytes(path), kSmallGraphFile);

  GraphPutK(graph.get(), -1);
  EXPECT_EQ(GraphWrite(dir.Path("negative").c_str(), graph.get(), 0), 1);
  EXPECT_FALSE(ExistFile(dir.Path("negative").c_str()));

  FILE* readOnly = std::fopen(path.c_str(), "rb");
  EXPECT_EQ(WriteGraphVectorToFile(readOnly, graph.get(), GraphGetVector(graph.get(), 0)), 1);
  std::fclose(readOnly);
}

TEST(GraphWriteDeathTest, AFailedWriteKeepsTheOldFile) {
  TempDir dir;
  GraphPtr graph = AllocateMemoryForGraph(200, 2, 2);
  const std::string path = dir.Path("g");
  WriteFileBytes(path, "old");
  // Room for the message that the test reads back, not for the graph.
  EXPECT_FATAL(
      {
        vqtest::LimitFileSize(512);
        GraphWrite(path.c_str(), graph.get(), 1);
      },
      "ERROR: unable to write to file. " + path + ": File too large\n");
  EXPECT_EQ(ReadFileBytes(path), "old");
  const std::string unreachable = dir.Path("no/such/g");
  EXPECT_FATAL(GraphWrite(unreachable.c_str(), graph.get(), 0),
               "ERROR: Couldn't open the file: " + unreachable + ": No such file or directory\n");
  EXPECT_EQ(vqtest::DirectoryNames(dir.path()), std::vector<std::string>{"g"});
}

// --- Reading ---

TEST(GraphRead, RoundTripsRandomGraphs) {
  TempDir dir;
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const auto pick = [&](int low, int high) {
      return std::uniform_int_distribution<int>(low, high)(random);
    };
    const int n = pick(0, 12), k = pick(0, 4), dim = pick(0, 6);
    GraphPtr graph = AllocateMemoryForGraph(n, k, dim);
    int maxCoord = 0, minCoord = INT_MAX;
    for (int i = 0; i < n; ++i) {
      std::vector<int> coords(dim + 1);
      for (int& c : coords)
        c = pick(0, 9) == 0 ? (pick(0, 1) ? INT_MAX : INT_MIN) : pick(-999, 999);
      if (pick(0, 5) == 0) {  // an empty slot reads back as zeros
        std::fill(coords.begin(), coords.end(), 0);
      } else {
        GraphPutVector(graph.get(), i, coords.data());
        for (int j = 0; j < k; ++j)
          GraphPutNN(graph.get(), GraphGetVector(graph.get(), i), pick(0, n - 1), j);
      }
      for (int j = 0; j < dim; ++j) {
        maxCoord = std::max(maxCoord, coords[j]);
        minCoord = std::min(minCoord, coords[j]);
      }
    }
    ASSERT_EQ(GraphWrite(dir.Path("g").c_str(), graph.get(), 1), 0);
    GraphPtr back = GraphRead(dir.Path("g").c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(GraphGetNumberVectors(back.get()), n);
    EXPECT_EQ(GraphGetK(back.get()), k);
    EXPECT_EQ(GraphGetDim(back.get()), dim);
    EXPECT_EQ(GraphGetMaxCoord(back.get()), maxCoord);
    EXPECT_EQ(GraphGetMinCoord(back.get()), minCoord);
    for (int i = 0; i < n; ++i) {
      const GraphVector* original = GraphGetVector(graph.get(), i);
      const GraphVector* read = GraphGetVector(back.get(), i);
      ASSERT_NE(read, nullptr);
      EXPECT_EQ(GraphGetVectorIndex(read), i);
      EXPECT_EQ(Coords(read, dim), original ? Coords(original, dim) : std::vector<int>(dim));
      EXPECT_EQ(Neighbours(read, k), original ? Neighbours(original, k) : std::vector<int>(k));
    }
  }
}

TEST(GraphRead, ExtremesStartAtZeroAndTheLargestIntAndPassOverEmptySlots) {
  GraphPtr negative = ReadBytes(Header("2", "0", "2") + "-5 -3 \n-1 -9 \n");
  ASSERT_NE(negative, nullptr);
  EXPECT_EQ(GraphGetMaxCoord(negative.get()), 0);
  EXPECT_EQ(GraphGetMinCoord(negative.get()), -9);

  // Zero vectors with a huge Dim: nothing is allocated for it.
  GraphPtr none = ReadBytes(Header("0", "0", "2000000000"));
  ASSERT_NE(none, nullptr);
  EXPECT_EQ(GraphGetMaxCoord(none.get()), 0);
  EXPECT_EQ(GraphGetMinCoord(none.get()), INT_MAX);

  // The last line has no newline, so it is not read.
  GraphPtr cut = ReadBytes(Header("2", "0", "2") + "4 7 \n-100 900");
  ASSERT_NE(cut, nullptr);
  ASSERT_NE(GraphGetVector(cut.get(), 0), nullptr);
  EXPECT_EQ(GraphGetVector(cut.get(), 1), nullptr);
  EXPECT_EQ(GraphGetMaxCoord(cut.get()), 7);
  EXPECT_EQ(GraphGetMinCoord(cut.get()), 4);
}

TEST(ReadGraphVectorFromFile, ToleratesLayoutAndStepsOverJunk) {
  GraphPtr graph = AllocateMemoryForGraph(1, 2, 3);  // 5 numbers per line
  const struct {
    std::string line;
    std::vector<int> numbers;
  } cases[] = {
      {"1 2 3 4 5 \n", {1, 2, 3, 4, 5}},
      {"1  2\t3 \r4 5\n", {1, 2, 3, 4, 5}},
      {"1,2,3;4 5\n", {1, 2, 3, 4, 5}},
      {"a 2 3 4 5\n", {0, 2, 3, 4, 5}},
      {"1-2 3 +4 5\n", {1, 2, 3, 4, 5}},
      {"-x 7\n", {0, 0, 7, 0, 0}},
      {"99999999999 -99999999999 0x1F\n", {INT_MAX, INT_MIN, 0, 1, 0}},
      {"1 2 3 4 5 6 7 8 9\n", {1, 2, 3, 4, 5}},
      {std::string("1 2\0 3 4 5\n", 11), {1, 2, 0, 0, 0}},
      {"\n", {0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    Stream in(c.line + "6 6 6 6 6\n");
    GraphVectorPtr first = ReadGraphVectorFromFile(in.file, graph.get(), 4);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GraphGetVectorIndex(first.get()), 4);
    std::vector<int> numbers = Coords(first.get(), 3);
    for (int v : Neighbours(first.get(), 2)) numbers.push_back(v);
    EXPECT_EQ(numbers, c.numbers);
    // The next line is read as a line of its own.
    GraphVectorPtr second = ReadGraphVectorFromFile(in.file, graph.get(), 5);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(Coords(second.get(), 3), std::vector<int>({6, 6, 6}));
    EXPECT_EQ(ReadGraphVectorFromFile(in.file, graph.get(), 6), nullptr);
  }
}

TEST(ReadGraphVectorFromFile, ReadsLinesOfAnyLength) {
  TempDir dir;
  const int dim = 600;  // lines of about 4 KB
  GraphPtr graph = AllocateMemoryForGraph(2, 1, dim);
  std::vector<int> coords(dim);
  for (int i = 0; i < dim; ++i) coords[i] = -1000000 - i;
  GraphPutVector(graph.get(), 0, coords.data());
  coords[dim - 1] = 42;
  GraphPutVector(graph.get(), 1, coords.data());
  GraphPutNN(graph.get(), GraphGetVector(graph.get(), 1), 0, 0);
  ASSERT_EQ(GraphWrite(dir.Path("g").c_str(), graph.get(), 0), 0);
  GraphPtr back = GraphRead(dir.Path("g").c_str());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(Coords(GraphGetVector(back.get(), 1), dim), coords);
  EXPECT_EQ(GraphGetVector(back.get(), 1)->NN[0], 0);
  EXPECT_EQ(GraphGetMaxCoord(back.get()), 42);
}

TEST(readline, KeepsTheFirst1023CharactersAndDropsTheRestOfTheLine) {
  Stream in(std::string(1500, 'a') + "\nnext\n" + std::string(1022, 'b') + "\ntail");
  char buffer[kGraphLineBufferSize];
  EXPECT_EQ(readline(in.file, buffer), 0);
  EXPECT_EQ(std::string(buffer), std::string(1023, 'a'));
  EXPECT_EQ(readline(in.file, buffer), 0);
  EXPECT_EQ(std::string(buffer), "next\n");
  EXPECT_EQ(readline(in.file, buffer), 0);
  EXPECT_EQ(std::string(buffer), std::string(1022, 'b') + "\n");
  EXPECT_NE(readline(in.file, buffer), 0);
  EXPECT_EQ(std::string(buffer), "tail");
  EXPECT_NE(readline(in.file, buffer), 0);
  EXPECT_EQ(std::string(buffer), "");
}

TEST(ReadGraphFileHeader, ReadsCountsAsScanfIntegers) {
  Stream octal(Header("010", "0x2", "  3") + std::string(80, '\n'));
  GraphPtr graph = ReadGraphFileHeader(octal.file);
  ASSERT_NE(graph, nullptr);
  EXPECT_EQ(GraphGetNumberVectors(graph.get()), 8);
  EXPECT_EQ(GraphGetK(graph.get()), 2);
  EXPECT_EQ(GraphGetDim(graph.get()), 3);

  // Whitespace anywhere or nowhere, any dash line; the version is not used.
  GraphPtr loose = ReadBytes("Graphv.99999999999999 2 0\t1\n-\n5\n6\n");
  ASSERT_NE(loose, nullptr);
  EXPECT_EQ(GraphGetVector(loose.get(), 1)->Coord[0], 6);
}

TEST(ReadGraphFileHeader, RefusesHeadersTheFileCannotHold) {
  const std::string refused[] = {
      "",
      "graph v. 1\n1\n0\n1\n" + kDashes + "5\n",
      Header("x", "0", "1") + "5\n",
      "Graph v. 1\n1\n0\n",
      Header("-1", "2", "2"),
      Header("1", "-2", "2") + "1 2\n",
      Header("1", "2", "-2") + "1 2\n",
      Header("2000000000", "2", "2") + "1 2 3 4 \n",
      Header("1", "2000000000", "2000000000") + "1 2 3 4 \n",
      Header("4294967297", "0", "0") + "\n\n",  // clamped, not wrapped to 1
      Header("3", "2", "2") + "1 2 3 4 \n",     // too short for three lines
  };
  TempDir dir;
  for (const std::string& bytes : refused) {
    SCOPED_TRACE(bytes);
    WriteFileBytes(dir.Path("g"), bytes);
    CaptureStdout();
    EXPECT_EQ(GraphRead(dir.Path("g").c_str()), nullptr);
    EXPECT_EQ(IsGraphFile(dir.Path("g").c_str()), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
  }
}

TEST(IsGraphFile, AcceptsWrittenGraphsOnly) {
  TempDir dir;
  GraphWrite(dir.Path("g").c_str(), SmallGraph().get(), 0);
  EXPECT_EQ(IsGraphFile(dir.Path("g").c_str()), 1);
  const std::string missing = dir.Path("missing");
  CaptureStderr();
  EXPECT_EQ(IsGraphFile(missing.c_str()), 0);
  EXPECT_EQ(GraphRead(missing.c_str()), nullptr);
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: Cannot find the file: " + missing + "ERROR: Cannot find the file: " + missing);
}

TEST(GraphRead, FileCutAtEveryLengthKeepsOnlyCompleteLines) {
  const std::string header = Header("3", "2", "2");
  const std::string body = kSmallGraphFile.substr(header.size());
  GraphPtr original = SmallGraph();
  for (std::size_t length = 0; length <= kSmallGraphFile.size(); ++length) {
    SCOPED_TRACE(length);
    GraphPtr graph = ReadBytes(kSmallGraphFile.substr(0, length));
    // Three lines of four numbers need at least 3 * 8 bytes after the header.
    if (length < header.size() + 24) {
      EXPECT_EQ(graph, nullptr);
      continue;
    }
    ASSERT_NE(graph, nullptr);
    const std::string read = body.substr(0, length - header.size());
    const int complete = static_cast<int>(std::count(read.begin(), read.end(), '\n'));
    for (int i = 0; i < 3; ++i) {
      const GraphVector* v = GraphGetVector(graph.get(), i);
      if (i >= complete) {
        EXPECT_EQ(v, nullptr);
      } else if (GraphGetVector(original.get(), i) != nullptr) {
        EXPECT_EQ(Coords(v, 2), Coords(GraphGetVector(original.get(), i), 2));
      }
    }
  }
}

TEST(GraphRead, SurvivesRandomDamage) {
  for (unsigned seed = 1; seed <= 300; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::string bytes = kSmallGraphFile;
    const int flips = std::uniform_int_distribution<int>(1, 6)(random);
    for (int i = 0; i < flips; ++i) {
      bytes[random() % bytes.size()] = "0123456789-+x \n\t\0\xff"[random() % 18];
    }
    CaptureStdout();
    GraphPtr graph = ReadBytes(bytes);
    GetCapturedStdout();
    if (graph == nullptr) continue;
    EXPECT_LE(static_cast<std::size_t>(GraphGetNumberVectors(graph.get())), bytes.size());
    EXPECT_GE(GraphGetMaxCoord(graph.get()), 0);
    for (int i = 0; i < GraphGetNumberVectors(graph.get()); ++i) {
      const GraphVector* v = GraphGetVector(graph.get(), i);
      if (v == nullptr) continue;
      EXPECT_EQ(v->AllocatedDim, GraphGetDim(graph.get()));
      EXPECT_EQ(v->AllocatedK, GraphGetK(graph.get()));
    }
  }
}

}  // namespace
