# Runs a libFuzzer target for a bounded time on a fresh copy of its seed corpus.
# -DFUZZER=... -DSEED_CORPUS=dir -DDICTIONARY=file -DRUN_DIR=dir -DSECONDS=n -DSEED=n -DRUNS=n
# [-DMAX_LEN=bytes, 8192 unless given]
# A fixed seed and a count of runs make a test run repeatable: what passes here passes in CI,
# and a failure there can be replayed. The seconds only cap a slow machine.
foreach(required FUZZER SEED_CORPUS DICTIONARY RUN_DIR SECONDS SEED RUNS)
    if(NOT DEFINED ${required})
        message(FATAL_ERROR "run_fuzzer.cmake needs -D${required}=...")
    endif()
endforeach()

# A fresh copy each run, so that every run starts from the same seeds and takes about as long.
file(REMOVE_RECURSE ${RUN_DIR})
file(MAKE_DIRECTORY ${RUN_DIR}/corpus ${RUN_DIR}/artifacts)
file(COPY ${SEED_CORPUS}/ DESTINATION ${RUN_DIR}/corpus)

# Inputs up to 8 KB unless the target says otherwise: the seeds are cut to that. Larger text
# hives reach no more of the parser and run several times slower, so a bounded run would try far
# fewer of them.
if(NOT DEFINED MAX_LEN)
    set(MAX_LEN 8192)
endif()
execute_process(
    COMMAND ${FUZZER}
            -seed=${SEED} -runs=${RUNS} -max_total_time=${SECONDS}
            -max_len=${MAX_LEN} -timeout=10 -rss_limit_mb=2048
            -dict=${DICTIONARY} -print_final_stats=1
            -artifact_prefix=${RUN_DIR}/artifacts/
            ${RUN_DIR}/corpus
    WORKING_DIRECTORY ${RUN_DIR}
    RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    file(GLOB artifacts ${RUN_DIR}/artifacts/*)
    message(FATAL_ERROR "the fuzzer failed (${status}); the input is kept in: ${artifacts}")
endif()
