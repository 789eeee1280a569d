# Makes the demo song: a short bell-like melody of our own, synthesised with ffmpeg's expression
# source, so the player can show itself without any third-party music.
# Usage: cmake -DFFMPEG=… -DOUTPUT=….mp3 -P make_demo_song.cmake
set(notes "0,4,7,12,9,7,4,2,0,2,4,7,4,2,0,-5")
string(REPLACE "," ";" note_list "${notes}")
# A note every half second; the semitone of note n is chosen by nested if(eq(n,k),…).
set(select "0")
list(LENGTH note_list count)
math(EXPR last "${count} - 1")
foreach(k RANGE ${last})
  list(GET note_list ${k} semitone)
  set(select "if(eq(mod(floor(2*t)\\,${count})\\,${k})\\,${semitone}\\,${select})")
endforeach()
set(freq "261.63*pow(2\\,(${select})/12)")
set(envelope "sin(PI*mod(2*t\\,1))*exp(-2.5*mod(2*t\\,1))")
set(voice "0.55*${envelope}*(sin(2*PI*${freq}*t)+0.3*sin(4*PI*${freq}*t))")
execute_process(
  COMMAND ${FFMPEG} -loglevel error -y -f lavfi -i "aevalsrc=exprs=${voice}|${voice}:s=44100:d=16"
          -c:a libmp3lame -b:a 128k -metadata title=Orvane演示曲 -metadata artist=Orvane ${OUTPUT}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "ffmpeg could not make the demo song")
endif()
