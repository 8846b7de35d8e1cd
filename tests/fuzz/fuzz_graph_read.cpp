// GraphRead on any bytes; a graph that reads is written and printed too.
#include "fuzz_support.h"
#include "vqpeek/cb.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vqfuzz::Setup();
  const std::string path = vqfuzz::WriteScratch("graph", data, size);
  vqfuzz::RunGuarded([&] {
    IsGraphFile(path.c_str());
    GraphPtr graph = GraphRead(path.c_str());
    if (graph == nullptr) return;
    GraphPrint(graph.get());
    const std::string copy = path + ".copy";
    GraphWrite(copy.c_str(), graph.get(), 1);
    FreeGraph(GraphRead(copy.c_str()));
    FreeGraph(std::move(graph));
  });
  return 0;
}
