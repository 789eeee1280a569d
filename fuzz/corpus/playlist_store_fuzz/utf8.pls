<?xml version="1.0" encoding="UTF-8"?>
<DefaultList>
<PlayerList>
<LIST Path="/music/忘情水.mp3" Title="忘情水" Artist="刘德华" Url="0" Ltime="0"/>
<!-- comment -->
<LIST Path="/m/朱镕基.mp3" Title="朱镕基" Artist="" Url="0" Ltime="x"/>
<Other Path="a"/>
</PlayerList>
<RndList>
<LIST Path="http://music.example/a%20b.mp3" Title="a &amp; b" Artist="&#x1F3B5;" Url="0" Ltime="1.5"/>
</RndList>
</DefaultList>
