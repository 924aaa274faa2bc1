// The command handlers of the service host. Each takes the process's unchanged argument count and
// vector (argument 0 the program path, argument 1 the command word, the command's own arguments
// from 2 on) and returns the process exit code.
#ifndef KOVA_HOST_COMMANDS_H
#define KOVA_HOST_COMMANDS_H

int CmdLogUpload(int argc, char** argv);
int CmdLog2bin(int argc, char** argv);
int CmdUnzzz(int argc, char** argv);
int CmdTestSdkver(int argc, char** argv);
int CmdScreenCapture(int argc, char** argv);

// The driver: picks the command named by argument 1 and returns its handler's result.
int HostMain(int argc, char** argv);

#endif  // KOVA_HOST_COMMANDS_H
