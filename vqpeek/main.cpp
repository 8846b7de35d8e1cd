// vqpeek: prints the contents of a training-set or codebook file, or the
// partitions of a training set given a codebook or a partitioning.
int main() { return 0; }
