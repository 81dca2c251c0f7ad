# Read by CTest through each test program's include file (tests/CMakeLists.txt):
# one test per GoogleTest suite of the program, named "<layer>.<suite>", that
# runs the suite in a process of its own with its tests shuffled
# (GTEST_RANDOM_SEED picks the order; scripts/test fixes it). A suite named in
# kOneTestPerEntry runs each of its tests as an entry of its own,
# "<layer>.<suite>.<test>": its tests each run the whole game for minutes, and
# together they would pass one entry's time limit. The list is written again
# whenever the program, the include file or this file is newer.
set(kOneTestPerEntry EndToEnd)

function(trevan_suite_tests binary layer workdir environment tests_file include_file)
  if(NOT EXISTS "${tests_file}" OR
     NOT "${tests_file}" IS_NEWER_THAN "${binary}" OR
     NOT "${tests_file}" IS_NEWER_THAN "${include_file}" OR
     NOT "${tests_file}" IS_NEWER_THAN "${CMAKE_CURRENT_FUNCTION_LIST_FILE}")
    execute_process(COMMAND "${binary}" --gtest_list_tests
      WORKING_DIRECTORY "${workdir}"
      TIMEOUT 60
      OUTPUT_VARIABLE listing
      ERROR_VARIABLE errors
      RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "${binary} --gtest_list_tests failed (${status}):\n${listing}${errors}")
    endif()
    # A suite's line starts in the first column: "Suite." or "Prefix/Suite.",
    # a typed suite followed by a comment naming its type.
    string(REGEX MATCHALL "(^|\n)[^ \n.#]+\\." suites "${listing}")
    set(content "")
    foreach(suite IN LISTS suites)
      string(REGEX REPLACE "^\n?(.*)\\.$" "\\1" suite "${suite}")
      set(entries "${suite}")
      list(FIND kOneTestPerEntry "${suite}" split)  # CTest's scripts know no IN_LIST
      if(NOT split EQUAL -1)
        # The suite's tests: the indented lines after its own line.
        string(REGEX MATCH "(^|\n)${suite}\\.\n(  [^\n]*\n)*" block "${listing}")
        string(REGEX MATCHALL "\n  [^ \n#]+" names "${block}")
        set(entries "")
        foreach(test IN LISTS names)
          string(STRIP "${test}" test)
          list(APPEND entries "${suite}.${test}")
        endforeach()
      endif()
      foreach(entry IN LISTS entries)
        set(filter "${entry}")
        if(entry STREQUAL suite)
          set(filter "${suite}.*")
        endif()
        set(name "${layer}.${entry}")
        string(APPEND content
          "add_test([==[${name}]==] [==[${binary}]==] [==[--gtest_filter=${filter}]==] --gtest_shuffle)\n"
          "set_tests_properties([==[${name}]==] PROPERTIES WORKING_DIRECTORY [==[${workdir}]==] "
          "TIMEOUT 600 ENVIRONMENT [==[${environment}]==])\n")
      endforeach()
    endforeach()
    file(WRITE "${tests_file}" "${content}")
  endif()
  include("${tests_file}")
endfunction()
