// The entry point of nbsim-mpi: the same program over MPI ranks (`mpirun -np N nbsim-mpi`).
// Rank 0 runs the program as the plain one does (command line, inputs, seed, every output, the
// key wait) and hands the points to the other ranks, which only simulate, each on its threads
// (--threads or NBSIM_THREADS). With one rank it is the plain program.
#include <mpi.h>

#include <atomic>
#include <exception>
#include <iostream>
#include <sstream>

#include "engine/mpi_sweep.h"
#include "run/entry.h"
#include "run/interrupt_signals.h"
#include "run/process.h"
#include "run/run_environment.h"

int main(int argc, char** argv) {
  nbsim::guardStandardDescriptors();
  nbsim::boundAllocatorArenas();
  int provided = 0;
  if (MPI_Init_thread(&argc, &argv, MPI_THREAD_MULTIPLE, &provided) != MPI_SUCCESS) {
    std::cerr << "nbsim: MPI cannot be started\n";
    return nbsim::exitRunFailed;
  }
  int rank = 0;
  int ranks = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &ranks);
  int status = nbsim::exitSuccess;
  if (ranks > 1 && provided < MPI_THREAD_MULTIPLE) {
    if (rank == 0) std::cerr << "nbsim: this MPI library cannot serve several threads of a rank\n";
    status = nbsim::exitRunFailed;
  } else if (rank == 0) {
    bool started = false;
    status = nbsim::runCommandLine(
        argc, argv,
        ranks > 1 ? nbsim::mpiScheduler(MPI_COMM_WORLD, ranks, started) : nbsim::RemoteScheduler{},
        ranks);
    if (!started) nbsim::sendNoRun(MPI_COMM_WORLD, ranks);
  } else {
    // The other ranks touch no file: of the command line they take only the thread count.
    const nbsim::CommandLine line = nbsim::parseCommandLine(argc, argv);
    std::ostringstream warnings;  // rank 0 says the same
    const std::atomic<int>& interrupt = nbsim::catchInterruptSignals();
    try {
      nbsim::runMpiWorker(MPI_COMM_WORLD, nbsim::threadsFor(line, warnings), &interrupt);
    } catch (const std::exception& failure) {
      std::cerr << "nbsim: rank " << rank << ": " << failure.what() << '\n' << std::flush;
      MPI_Abort(MPI_COMM_WORLD, nbsim::exitRunFailed);
    }
  }
  MPI_Finalize();
  return status;
}
