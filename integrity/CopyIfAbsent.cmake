# cmake -DFROM=template -DTO=database -P CopyIfAbsent.cmake: puts a copy of the template in place
# when no database is there yet; an existing database is never touched.
if(NOT EXISTS "${TO}")
    file(COPY_FILE "${FROM}" "${TO}")
    message(STATUS "Installed ${TO} from the template")
endif()
