// The entry point of nbsim-mpi: the same program over MPI ranks (`mpirun -np N nbsim-mpi`).
// Rank 0 runs the program as the plain one does (command line, inputs, seed, every output, the
// key wait) and hands the points to the other ranks, which only simulate, each on its threads
// (--threads or NBSIM_THREADS). With one rank it is the plain program. NBSIM_MPI_TIMES=1 makes
// every rank tell at the end what the shared points' stretches cost it.
#include <mpi.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include "engine/mpi_sweep.h"
#include "run/entry.h"
#include "run/interrupt_signals.h"
#include "run/process.h"
#include "run/run_environment.h"

namespace {

bool isOne(const char* value) { return value != nullptr && std::string(value) == "1"; }

}  // namespace

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
    // NBSIM_STRETCH_DRAWS: the draws per stretch of a point shared by several threads;
    // NBSIM_SHARE_ALL=1 shares every point from its first block.
    nbsim::MpiOptions options;
    options.shareAll = isOne(std::getenv("NBSIM_SHARE_ALL"));
    options.reportTimes = isOne(std::getenv("NBSIM_MPI_TIMES"));
    if (const char* value = std::getenv("NBSIM_STRETCH_DRAWS")) {
      char* end = nullptr;
      const long long draws = std::strtoll(value, &end, 10);
      if (end != value && *end == '\0' && draws >= 1 && draws <= (std::int64_t{1} << 28)) {
        options.stretchDraws = draws;
      }
    }
    status = nbsim::runCommandLine(
        argc, argv,
        ranks > 1 ? nbsim::mpiScheduler(MPI_COMM_WORLD, ranks, started, options)
                  : nbsim::RemoteScheduler{},
        ranks);
    if (!started) nbsim::sendNoRun(MPI_COMM_WORLD, ranks);
  } else {
    // The other ranks touch no file: of the command line they take only the thread count.
    const nbsim::CommandLine line = nbsim::parseCommandLine(argc, argv);
    std::ostringstream warnings;  // rank 0 says the same
    const std::atomic<int>& interrupt = nbsim::catchInterruptSignals();
    try {
      nbsim::runMpiWorker(MPI_COMM_WORLD, nbsim::threadsFor(line, warnings), &interrupt,
                          isOne(std::getenv("NBSIM_MPI_TIMES")));
    } catch (const std::exception& failure) {
      std::cerr << "nbsim: rank " << rank << ": " << failure.what() << '\n' << std::flush;
      MPI_Abort(MPI_COMM_WORLD, nbsim::exitRunFailed);
    }
  }
  MPI_Finalize();
  return status;
}
