// A broken program for the mutant runs of the scripted checks: it does
// nothing at all and reports success. Put in place of the agent (or of a
// probe), it must make the check that judges that program fail.
int main() { return 0; }
