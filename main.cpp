// The process entry: stands in for the Windows entry point.
int main() { return 0; }
