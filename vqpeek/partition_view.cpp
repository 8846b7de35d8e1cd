// The partition view of the two-file modes: the loading step that reads the
// second file and derives the other structure, the view itself, and the
// release step.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "text_buffer.h"
#include "viewer.h"
#include "vqpeek/interfc.h"

void LoadPartitionView(ViewMode mode, const char* secondName, const Codebook& trainingSet,
                       Codebook* second, Partitioning* partitioning) {
  if (mode == ViewTrainingSetAndCodebook) {
    ReadCodebook(secondName, second);
    // Without code vectors there is nothing to partition by; said here,
    // before the partitioning is made with no partitions.
    if (second->Booksize < 1) {
      ErrorMessage("ERROR: The codebook is empty.\n");
      ExitProcessing(-1);
    }
    CreateNewPartitioning(partitioning, &trainingSet, second->Booksize);
    GenerateOptimalPartitioningGeneral(&trainingSet, second, partitioning, 0);
  } else {
    ReadPartitioning(secondName, partitioning, &trainingSet);
    // The new codebook's nodes start with zero elements, so the centroid
    // line of an empty partition shows zeros with frequency 0.
    CreateNewCodebook(second, partitioning->PartitionCount, &trainingSet);
    GenerateOptimalCodebookGeneral(&trainingSet, second, partitioning, 0);
  }
}

namespace {

// The elements as `elementFields` gives them ("%*d" and a blank unless -B),
// then the frequency with " (%*d)\n".
void AppendVector(TextBuffer& text, const CodebookNode& node, int dim,
                  const IntFields& elementFields, int freqWidth) {
  const int* elements = node.Vector.get();
  for (int e = 0; e < dim; ++e) elementFields.Append(text, elements[e]);
  text.Append(" (");
  text.AppendInt(node.Freq, freqWidth);
  text.Append(")\n");
}

}  // namespace

void PrintPartitionView(FILE* out, const Codebook& trainingSet, const Codebook& second,
                        const Partitioning& partitioning, const SetStatistics& stats,
                        int noBlanks) {
  const int partitions = second.Booksize;
  const int dim = VectorDimension(trainingSet);
  const int elementWidth = DecimalWidth(stats.MaxElement);
  const int freqWidth = DecimalWidth(stats.MaxFreq);
  const int numberWidth = DecimalWidth(partitions);
  const int nameWidth = stats.MaxNameLength;
  // Both prefixes come to the same width (13 characters without names, up
  // to 999,999 partitions), so representatives and members line up.
  const int centroidFill = std::max(0, numberWidth + nameWidth - 6);
  const int memberFill = nameWidth == 0 ? 8 - numberWidth : 6 - nameWidth - numberWidth;

  const IntFields elementFields(elementWidth, noBlanks != 1);
  TextBuffer text(out);
  for (int p = 0; p < partitions; ++p) {
    text.Append("Partition ");
    text.AppendInt(p + 1, 0);
    text.Append(":\n");
    text.Append("   centroid: ");
    text.AppendBlanks(centroidFill);
    AppendVector(text, second.Book[p], dim, elementFields, freqWidth);

    for (int v = partitioning.First[p]; v != -1; v = partitioning.Next[v]) {
      text.Append("   ");
      text.AppendInt(p + 1, numberWidth);
      text.Append("  ");
      text.AppendBlanks(memberFill);
      if (nameWidth > 0) {
        const char* name = trainingSet.Book[v].Name.get();
        if (name != nullptr && name[0] != '\0') {
          text.AppendLeft(std::string_view(name, std::strlen(name)), nameWidth);
          text.Append("  ");
        } else {
          text.AppendBlanks(static_cast<long long>(nameWidth) + 2);
        }
      }
      AppendVector(text, trainingSet.Book[v], dim, elementFields, freqWidth);
    }
  }
}

void ReleasePartitionView(Codebook* second, Partitioning* partitioning) {
  FreeCodebook(second);
  FreePartitioning(partitioning);
}
