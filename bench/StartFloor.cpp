// The least a C++ command costs to start here: the standard library loaded, one line printed,
// built with the same options as quillbox. bench/startup_vs_sigrok.sh times it beside quillbox.
#include <iostream>

int main() { std::cout << "quillbox start-up floor\n"; }
