# The product version as the suite writes it, for the packages and the version resource:
# 4.0.49 is 4.00.0049.
function(ostrivan_padded out number width)
    string(LENGTH "${number}" length)
    set(text "${number}")
    while(length LESS width)
        string(PREPEND text "0")
        math(EXPR length "${length} + 1")
    endwhile()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()
ostrivan_padded(_ostrivan_minor ${PROJECT_VERSION_MINOR} 2)
ostrivan_padded(_ostrivan_patch ${PROJECT_VERSION_PATCH} 4)
set(OSTRIVAN_PACKAGE_VERSION "${PROJECT_VERSION_MAJOR}.${_ostrivan_minor}.${_ostrivan_patch}")
