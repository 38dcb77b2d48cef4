#include "app/kestro_agent_main.h"

int main(int argc, char** argv) { return KestroAgentMain::main(argc, argv); }
