// Placeholder: replaced by the scriptable fake tool.
int main() { return 0; }
