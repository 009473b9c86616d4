// Entry point; the start-up lands with the application shell.
int main() { return 0; }
